// Relays each page's requests to a signing host of its own and the host's
// answers back. One host process per page connection: provider sessions live
// inside that process, so a page's handles stay valid until it goes away.
// The same file is Chromium's service worker and Firefox's background script.
const api = globalThis.browser ?? globalThis.chrome;
const HOST_NAME = 'com.quorvant.signing_host';

// Chromium reports why through runtime.lastError, Firefox on the port.
function describeStop(error) {
  const reason = error && error.message ? error.message : 'it exited';
  if (/not found|no such native application/i.test(reason)) {
    return 'The signing host is not installed for this browser (' + reason + ').';
  }
  return 'The signing host stopped: ' + reason;
}

api.runtime.onConnect.addListener((page) => {
  if (page.name !== 'quorvant-page') return;
  let host = null;

  function tell(message) {
    try {
      page.postMessage(message);
    } catch (ignored) {
      // The page went away first; nobody is left to tell.
    }
  }

  function connectHost() {
    const port = api.runtime.connectNative(HOST_NAME);
    port.onMessage.addListener((answer) => tell({answer}));
    port.onDisconnect.addListener((stopped) => {
      if (host !== port) return;
      host = null;
      tell({failure: describeStop(stopped.error || api.runtime.lastError)});
    });
    return port;
  }

  page.onMessage.addListener((message) => {
    const request = message && message.request;
    if (typeof request !== 'object' || request === null) return;
    if (host === null) host = connectHost();
    try {
      host.postMessage(request);
    } catch (error) {
      tell({failure: 'The browser did not pass the request on: ' + error.message,
            contentId: request.contentId});
      return;
    }
    // Tells the page its request has left the browser's hands.
    tell({sent: request.contentId});
  });
  page.onDisconnect.addListener(() => {
    if (host !== null) host.disconnect();
    host = null;
  });
});
