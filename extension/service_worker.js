// Relays each page's requests to a signing host of its own and the host's
// answers back. One host process per page connection: provider sessions live
// inside that process, so a page's handles stay valid until it goes away.
const HOST_NAME = 'com.quorvant.signing_host';

function describeStop(error) {
  const reason = error && error.message ? error.message : 'the signing host stopped';
  if (reason.includes('not found')) {
    return 'The signing host is not installed for this browser (' + reason + ').';
  }
  return 'The signing host stopped: ' + reason;
}

chrome.runtime.onConnect.addListener((page) => {
  if (page.name !== 'quorvant-page') return;
  let host = null;

  function connectHost() {
    host = chrome.runtime.connectNative(HOST_NAME);
    host.onMessage.addListener((answer) => page.postMessage({answer}));
    host.onDisconnect.addListener(() => {
      const failure = describeStop(chrome.runtime.lastError);
      host = null;
      try {
        page.postMessage({failure});
      } catch (ignored) {
        // The page went away first; nobody is left to tell.
      }
    });
  }

  page.onMessage.addListener((message) => {
    if (!message || typeof message.request !== 'object' || message.request === null) return;
    if (host === null) connectHost();
    host.postMessage(message.request);
  });
  page.onDisconnect.addListener(() => {
    if (host !== null) host.disconnect();
    host = null;
  });
});
