// Connects the page to the extension. On {channel: 'quorvant-connect'} from
// the page it answers {channel: 'quorvant-port'} with a MessagePort, the
// page's end of a relay (relay.js tells what goes over it): the relay frame
// this script puts in the page, which passes requests straight to the host,
// or the background through this script (Firefox, or when the frame does not
// come up).
// The page's root element carries what the page needs to know beforehand.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const firefox = api.runtime.getURL('').startsWith('moz-extension:');
  // The largest file a page can send, measured per browser (bench/browser/):
  // Chromium refuses extension messages over 64 MiB, which leaves 48 MiB of
  // file less room for the request's other members. Firefox (ESR 153 here)
  // never delivers a 40 MiB file's request to the host and reports nothing;
  // 20 MiB arrive, slowly.
  const limit = firefox ?
    {browser: 'Firefox', maxFileBytes: 20 * 1024 * 1024} :
    {browser: 'Chromium-based browsers (Chrome, Edge, Chromium)', maxFileBytes: 48 * 1024 * 1024 - 1024};

  // Firefox lets no extension frame in a web page start a native host, but
  // its extension messages carry files as they are; Chromium's carry JSON
  // only, 64 MiB at most, at a few MB/s.
  const frame = firefox ? null : document.createElement('iframe');
  const frameUp = frame === null ? Promise.resolve(false) : new Promise((resolve) => {
    window.addEventListener('message', (event) => {
      if (event.source === frame.contentWindow && event.data && event.data.channel === 'quorvant-relay') resolve(true);
    });
    setTimeout(() => resolve(false), 2000);
  });
  if (frame !== null) {
    frame.hidden = true;
    frame.src = api.runtime.getURL('relay.html');
    document.documentElement.appendChild(frame);
  }

  function throughBackground(page) {
    const port = api.runtime.connect({name: 'quorvant-page'});
    port.onMessage.addListener((message) => page.postMessage(message));
    port.onDisconnect.addListener(() => page.postMessage({failure: 'The signing extension was disconnected; reload the page.'}));
    page.onmessage = async ({data}) => {
      const request = data && data.request;
      if (data && data.file && request && !firefox) {
        const report = (fraction) => page.postMessage({reading: request.contentId, fraction});
        request.data = Object.assign({}, request.data, {contentFile: await quorvantRelay.fileToBase64(data.file, report)});
      }
      port.postMessage({request, reset: data && data.reset, file: firefox ? data.file : undefined});
    };
  }

  window.addEventListener('message', async (event) => {
    if (event.source !== window || !event.data || event.data.channel !== 'quorvant-connect') return;
    const channel = new MessageChannel();
    if (await frameUp) {
      frame.contentWindow.postMessage({channel: 'quorvant-port'}, new URL(frame.src).origin, [channel.port1]);
    } else {
      throughBackground(channel.port1);
    }
    window.postMessage({channel: 'quorvant-port'}, window.location.origin, [channel.port2]);
  });

  const root = document.documentElement.dataset;
  root.quorvantBrowser = limit.browser;
  root.quorvantMaxFileBytes = String(limit.maxFileBytes);
  root.quorvantExtension = 'ready';
})();
