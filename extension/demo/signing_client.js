// Talks to the signing host through the Quorvant extension, over a
// MessagePort that the extension's content script hands out.
// waitForExtension(ms) resolves with {browser, maxFileBytes} (what this
// browser can pass to the host) or rejects after `ms` with plain words.
// request(data, {file, seconds, onReading, onSent}) sends one request
// ({contentId, data}) and resolves with the answer's "data" object; a File
// given as `file` is sent as the request's "contentFile" (the extension
// encodes it), onReading(fraction) follows its reading, onSent() runs once
// the request is on its way to the host. It rejects with an Error in plain
// words when the extension or the host cannot answer, or when no answer
// comes within `seconds`: then the host is ended with its sessions, so a
// late answer cannot arrive. Such an Error has hostGone set. onHostGone(fn)
// hears of a host that stopped between requests; limit is the largest file
// in bytes the extension can pass on. The client is a property of window for
// the page's other scripts.
window.signingClient = (() => {
  const NOT_INSTALLED = 'The Quorvant signing extension is not installed or not enabled for this page.';
  const pending = new Map();
  let nextId = 1;
  let hostGone = () => {};
  let port = null;
  const portWaiters = [];

  function extensionInfo() {
    const root = document.documentElement.dataset;
    if (root.quorvantExtension !== 'ready') return null;
    return {browser: root.quorvantBrowser, maxFileBytes: Number(root.quorvantMaxFileBytes)};
  }

  function settle(contentId, outcome) {
    const entry = pending.get(contentId);
    if (!entry) return;
    pending.delete(contentId);
    clearTimeout(entry.timer);
    outcome(entry);
  }

  function failAll(text) {
    if (pending.size === 0) hostGone(text);
    for (const contentId of [...pending.keys()]) {
      settle(contentId, (entry) => entry.reject(Object.assign(new Error(text), {hostGone: true})));
    }
  }

  function receive({data: message}) {
    if (!message) return;
    const entry = pending.get(message.reading ?? message.sent);
    if (message.reading !== undefined && entry) entry.onReading(message.fraction);
    if (message.sent !== undefined && entry) entry.onSent();
    if (message.failure && message.contentId !== undefined) {
      settle(message.contentId, (waiting) => waiting.reject(new Error(message.failure)));
    } else if (message.failure) {
      failAll(message.failure);
    } else if (message.answer) {
      settle(message.answer.contentId, (waiting) => waiting.resolve(message.answer.data || {}));
    }
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window || !event.data || event.data.channel !== 'quorvant-port' || port) return;
    port = event.ports[0];
    port.onmessage = receive;
    portWaiters.splice(0).forEach((wake) => wake());
  });
  window.postMessage({channel: 'quorvant-connect'}, window.location.origin);

  function waitForExtension(milliseconds) {
    return new Promise((resolve, reject) => {
      if (port) return resolve(extensionInfo());
      portWaiters.push(() => resolve(extensionInfo()));
      setTimeout(() => reject(new Error(NOT_INSTALLED)), milliseconds);
    });
  }

  function request(data, {file, seconds = 60, onReading = () => {}, onSent = () => {}} = {}) {
    if (!port) return Promise.reject(new Error(NOT_INSTALLED));
    const contentId = 'demo-' + nextId++;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        port.postMessage({reset: true});
        failAll('The signing host did not answer within ' + seconds + ' seconds and was stopped.');
      }, seconds * 1000);
      pending.set(contentId, {resolve, reject, timer, onReading, onSent});
      port.postMessage(file ? {request: {contentId, data}, file} : {request: {contentId, data}});
    });
  }

  return {
    request,
    waitForExtension,
    onHostGone: (callback) => { hostGone = callback; },
    get limit() { return extensionInfo() && extensionInfo().maxFileBytes; },
  };
})();
