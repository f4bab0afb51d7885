// The relay frame that the content script puts in each page: it receives a
// MessagePort whose other end the page holds and relays over it. The page's
// files reach this extension page as File objects, and its requests go from
// here straight to the host: no hop through the background.
window.addEventListener('message', (event) => {
  const page = event.ports && event.ports[0];
  if (!event.data || event.data.channel !== 'quorvant-port' || !page) return;
  const relay = quorvantRelay((message) => page.postMessage(message));
  page.onmessage = (message) => relay.receive(message.data);
});
window.parent.postMessage({channel: 'quorvant-relay'}, '*');
