// Talks to the signing host through the Quorvant extension.
// waitForExtension(ms) resolves with {browser, maxFileBytes} (what this
// browser can pass to the host) or rejects after `ms` with plain words.
// request(data, {seconds, onSent}) sends one request ({contentId, data}) and
// resolves with the answer's "data" object; onSent() runs once the request is
// on its way to the host. It rejects with an Error whose message is plain
// words when the extension or the host cannot answer, or when no answer comes
// within `seconds`: then the connection is dropped, ending the host and its
// sessions, so a late answer cannot arrive. Such an Error has hostGone set.
// onHostGone(callback) hears of a host that stopped between requests; limit
// is the largest file in bytes the extension can pass on (once it is there).
const signingClient = (() => {
  const pending = new Map();
  let nextId = 1;
  let hostGone = () => {};
  const readyWaiters = [];

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

  window.addEventListener('message', (event) => {
    const message = event.data;
    if (event.source !== window || !message) return;
    if (message.channel === 'quorvant-ready') readyWaiters.splice(0).forEach((wake) => wake());
    if (message.channel !== 'quorvant-answer') return;
    if (message.sent !== undefined) {
      const entry = pending.get(message.sent);
      if (entry) entry.onSent();
    } else if (message.failure && message.contentId !== undefined) {
      settle(message.contentId, (entry) => entry.reject(new Error(message.failure)));
    } else if (message.failure) {
      failAll(message.failure);
    } else if (message.answer) {
      settle(message.answer.contentId, (entry) => entry.resolve(message.answer.data || {}));
    }
  });

  function waitForExtension(milliseconds) {
    return new Promise((resolve, reject) => {
      if (extensionInfo()) return resolve(extensionInfo());
      readyWaiters.push(() => resolve(extensionInfo()));
      setTimeout(() => reject(new Error(
          'The Quorvant signing extension is not installed or not enabled for this page.')),
        milliseconds);
    });
  }

  function request(data, {seconds = 60, onSent = () => {}} = {}) {
    if (!extensionInfo()) {
      return Promise.reject(new Error('The Quorvant signing extension is not installed or not enabled for this page.'));
    }
    const contentId = 'demo-' + nextId++;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        window.postMessage({channel: 'quorvant-reset'}, window.location.origin);
        failAll('The signing host did not answer within ' + seconds + ' seconds and was stopped.');
      }, seconds * 1000);
      pending.set(contentId, {resolve, reject, timer, onSent});
      window.postMessage({channel: 'quorvant-request', request: {contentId, data}},
                         window.location.origin);
    });
  }

  return {
    request,
    waitForExtension,
    onHostGone: (callback) => { hostGone = callback; },
    get limit() { return extensionInfo() && extensionInfo().maxFileBytes; },
  };
})();
