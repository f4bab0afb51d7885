// Talks to the signing host through the Quorvant extension. request(data)
// sends one request ({contentId, data}) and resolves with the answer's
// "data" object; it rejects with an Error whose message is plain words when
// the extension or the host cannot answer. Answers are matched to requests
// by their "contentId".
const signingClient = (() => {
  const pending = new Map();
  let nextId = 1;
  let ready = document.documentElement.dataset.quorvantExtension === 'ready';
  const readyWaiters = [];

  window.addEventListener('message', (event) => {
    const message = event.data;
    if (event.source !== window || !message) return;
    if (message.channel === 'quorvant-ready') {
      ready = true;
      readyWaiters.splice(0).forEach((resolve) => resolve());
    }
    if (message.channel !== 'quorvant-answer') return;
    if (message.failure) {
      const error = new Error(message.failure);
      pending.forEach((entry) => entry.reject(error));
      pending.clear();
      return;
    }
    const answer = message.answer || {};
    const entry = pending.get(answer.contentId);
    if (!entry) return;
    pending.delete(answer.contentId);
    entry.resolve(answer.data || {});
  });

  // Resolves when the extension's content script is there; rejects after
  // `milliseconds` otherwise.
  function waitForExtension(milliseconds) {
    if (ready || document.documentElement.dataset.quorvantExtension === 'ready') {
      return Promise.resolve();
    }
    return new Promise((resolve, reject) => {
      readyWaiters.push(resolve);
      setTimeout(() => reject(new Error(
          'The Quorvant signing extension is not installed or not enabled for this page.')),
        milliseconds);
    });
  }

  function request(data) {
    const contentId = 'demo-' + nextId++;
    return new Promise((resolve, reject) => {
      pending.set(contentId, {resolve, reject});
      window.postMessage({channel: 'quorvant-request', request: {contentId, data}},
                         window.location.origin);
    });
  }

  return {request, waitForExtension};
})();
