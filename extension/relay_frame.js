// The relay frame that the content script puts in a page (Chromium-family
// browsers): it receives a MessagePort whose other end the page holds and
// relays over it. The page's files reach this extension page as Blobs, and
// its requests go from here straight to the host: no hop through the
// background. The page's origin is the browser's record of this frame's
// parent, never anything the page says.
const pageOrigin = location.ancestorOrigins && location.ancestorOrigins[0];
const relays = [];
window.addEventListener('message', (event) => {
  const page = event.ports && event.ports[0];
  if (event.source !== window.parent || event.origin !== pageOrigin || !page) return;
  if (!event.data || event.data.channel !== 'quorvant-port') return;
  const relay = quorvantRelay(pageOrigin, (message) => page.postMessage(message));
  page.onmessage = (message) => relay.receive(message.data);
  relays.push(relay);
});
// An approval window open for a page that went away closes with it.
window.addEventListener('pagehide', () => relays.forEach((relay) => relay.close()));
window.parent.postMessage({channel: 'quorvant-relay'}, '*');
