// The background (Chromium's service worker, Firefox's background script):
// relays for content scripts whose page could not load the relay frame.
if (typeof importScripts === 'function') importScripts('relay.js');  // Firefox lists it in the manifest

(globalThis.browser ?? globalThis.chrome).runtime.onConnect.addListener((page) => {
  if (page.name !== 'quorvant-page') return;
  const relay = quorvantRelay((message) => {
    try {
      page.postMessage(message);
    } catch (ignored) {
      // The page went away first; nobody is left to tell.
    }
  });
  page.onMessage.addListener(relay.receive);
  page.onDisconnect.addListener(relay.close);
});
