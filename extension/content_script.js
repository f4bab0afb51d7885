// Bridges the page and the extension: requests arrive from the page through
// window.postMessage ({channel: 'quorvant-request', request}), answers and
// failures go back the same way ({channel: 'quorvant-answer', answer} or
// {channel: 'quorvant-answer', failure: text}). The port to the extension is
// opened on the first request.
(() => {
  let port = null;

  function toPage(message) {
    window.postMessage(Object.assign({channel: 'quorvant-answer'}, message), window.location.origin);
  }

  function connect() {
    port = chrome.runtime.connect({name: 'quorvant-page'});
    port.onMessage.addListener(toPage);
    port.onDisconnect.addListener(() => {
      port = null;
      toPage({failure: 'The signing extension was disconnected; reload the page.'});
    });
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || !data || data.channel !== 'quorvant-request') return;
    if (typeof data.request !== 'object' || data.request === null) return;
    if (port === null) connect();
    port.postMessage({request: data.request});
  });

  document.documentElement.dataset.quorvantExtension = 'ready';
  window.postMessage({channel: 'quorvant-ready'}, window.location.origin);
})();
