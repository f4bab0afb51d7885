// Connects the page to the extension. On {channel: 'quorvant-connect'} from
// the page it answers {channel: 'quorvant-port', version, maxFileBytes,
// browser} with a MessagePort, the page's end of a relay (relay.js tells what
// goes over it): in Chromium-family browsers the relay frame this script puts
// in the page on its first connect, which talks to the host itself; in
// Firefox, or when the frame does not come up, the background through this
// script. Runs in every frame: a frame of another origin is its own page.
// The page's root element carries what the page needs to know beforehand.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const firefox = api.runtime.getURL('').startsWith('moz-extension:');
  const info = {
    version: api.runtime.getManifest().version,
    maxFileBytes: quorvantRelay.MAX_FILE_BYTES,
    browser: firefox ? 'Firefox' : 'Chromium-based browsers (Chrome, Edge, Chromium)',
  };

  // Firefox lets no extension frame in a web page start a native host, but
  // its extension messages carry files as they are; Chromium's carry JSON
  // only, 64 MiB at most, at a few MB/s, so there the frame reads the file.
  let frame = null;
  let frameUp = null;
  function relayFrame() {
    if (frameUp !== null) return frameUp;
    frame = document.createElement('iframe');
    frame.hidden = true;
    frame.src = api.runtime.getURL('relay.html');
    frameUp = new Promise((resolve) => {
      window.addEventListener('message', (event) => {
        if (event.source === frame.contentWindow && event.data && event.data.channel === 'quorvant-relay') resolve(true);
      });
      setTimeout(() => resolve(false), 2000);
    });
    document.documentElement.appendChild(frame);
    return frameUp;
  }

  // The background reads a Chromium page's file part by part through here,
  // each part just before it goes to the host.
  function throughBackground(page) {
    const port = api.runtime.connect({name: 'quorvant-page'});
    const files = new Map();
    let nextFile = 0;
    port.onMessage.addListener(async (message) => {
      if (message.read === undefined) return page.postMessage(message);
      try {
        const file = quorvantRelay.blobSource(files.get(message.read));
        port.postMessage({read: message.read, part: message.part, base64: await file.read(message.start, message.end)});
      } catch (error) {
        port.postMessage({read: message.read, part: message.part, error: String(error && error.message)});
      }
    });
    port.onDisconnect.addListener(() => page.postMessage({
      failure: 'The signing extension was disconnected; reload the page.', code: 'host-stopped'}));
    page.onmessage = ({data}) => {
      if (!data || typeof data !== 'object') return;
      const message = {request: data.request, reset: data.reset, cancel: data.cancel};
      if (data.file instanceof Blob && firefox) {
        message.file = data.file;
      } else if (data.file instanceof Blob) {
        files.set(nextFile, data.file);
        message.fileSize = data.file.size;
        message.fileId = nextFile++;
      }
      port.postMessage(message);
    };
  }

  window.addEventListener('message', async (event) => {
    if (event.source !== window || !event.data || event.data.channel !== 'quorvant-connect') return;
    const channel = new MessageChannel();
    if (!firefox && await relayFrame()) {
      frame.contentWindow.postMessage({channel: 'quorvant-port'}, new URL(frame.src).origin, [channel.port1]);
    } else {
      throughBackground(channel.port1);
    }
    window.postMessage({channel: 'quorvant-port', ...info}, window.location.origin, [channel.port2]);
  });

  const root = document.documentElement.dataset;
  root.quorvantBrowser = info.browser;
  root.quorvantMaxFileBytes = String(info.maxFileBytes);
  root.quorvantExtension = 'ready';
})();
