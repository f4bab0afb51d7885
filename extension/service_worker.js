// The background (Chromium's service worker, Firefox's background script):
// relays for content scripts that talk through it (Firefox always; Chromium
// when its relay frame did not come up). The page's origin is the one the
// browser gives for the content script's frame.
if (typeof importScripts === 'function') importScripts('sites.js', 'relay.js');  // Firefox lists them in the manifest

(globalThis.browser ?? globalThis.chrome).runtime.onConnect.addListener((page) => {
  const sender = page.sender || {};
  if (page.name !== 'quorvant-page' || !sender.tab || !sender.url) return page.disconnect();
  const tell = (message) => {
    try {
      page.postMessage(message);
    } catch (ignored) {
      // The page went away first; nobody is left to tell.
    }
  };
  const relay = quorvantRelay(sender.origin || new URL(sender.url).origin, tell);
  const reads = new Map();  // a Chromium page's file parts being read in its content script
  let nextRead = 0;

  // A file that stays in the content script: each part is asked for there.
  const remoteFile = (fileId, size) => ({size, read: (start, end) => new Promise((resolve, reject) => {
    const part = nextRead++;
    reads.set(part, {resolve, reject});
    tell({read: fileId, part, start, end});
  })});

  page.onMessage.addListener((message) => {
    if (message && message.read !== undefined) {
      const waiting = reads.get(message.part);
      reads.delete(message.part);
      if (waiting && typeof message.base64 === 'string') waiting.resolve(message.base64);
      else if (waiting) waiting.reject(new Error(message.error));
      return;
    }
    if (message && Number.isSafeInteger(message.fileSize)) message.file = remoteFile(message.fileId, message.fileSize);
    relay.receive(message);
  });
  page.onDisconnect.addListener(relay.close);
});
