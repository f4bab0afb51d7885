// Bridges the page and the extension through window.postMessage. From the
// page: {channel: 'quorvant-request', request} and {channel: 'quorvant-reset'}
// (drops the connection, and with it the host and its sessions). To the page,
// all on channel 'quorvant-answer': {answer}, {sent: contentId} once a
// request is on its way to the host, {failure: text, contentId} for one
// request, {failure: text} when the host or the extension is gone. The port
// to the extension is opened on the first request.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const firefox = api.runtime.getURL('').startsWith('moz-extension:');
  // The largest file a page can send as Base64 content, measured per browser
  // (bench/browser/): Chromium refuses extension messages over 64 MiB, which
  // leaves 48 MiB of file less room for the request's other members.
  const limit = firefox ?
    {browser: 'Firefox', maxFileBytes: 48 * 1024 * 1024 - 1024} :
    {browser: 'Chromium-based browsers (Chrome, Edge, Chromium)', maxFileBytes: 48 * 1024 * 1024 - 1024};
  let port = null;

  function toPage(message) {
    window.postMessage(Object.assign({channel: 'quorvant-answer'}, message), window.location.origin);
  }

  function connect() {
    port = api.runtime.connect({name: 'quorvant-page'});
    port.onMessage.addListener(toPage);
    port.onDisconnect.addListener(() => {
      port = null;
      toPage({failure: 'The signing extension was disconnected; reload the page.'});
    });
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || !data) return;
    if (data.channel === 'quorvant-reset' && port !== null) {
      port.disconnect();
      port = null;
    }
    if (data.channel !== 'quorvant-request') return;
    const request = data.request;
    if (typeof request !== 'object' || request === null) return;
    if (port === null) connect();
    try {
      port.postMessage({request});
    } catch (error) {
      toPage({failure: 'The browser did not pass the request on: ' + error.message,
              contentId: request.contentId});
    }
  });

  const root = document.documentElement.dataset;
  root.quorvantBrowser = limit.browser;
  root.quorvantMaxFileBytes = String(limit.maxFileBytes);
  root.quorvantExtension = 'ready';
  window.postMessage({channel: 'quorvant-ready'}, window.location.origin);
})();
