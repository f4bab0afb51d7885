// The extension's one piece of messaging code: relays a page's requests to a
// signing host of its own and the host's answers back. One host process per
// page: provider sessions live inside that process, so a page's handles stay
// valid until the page goes away.
//
// From the page: {request} (one request, {contentId, data}), {request, file}
// (a File or Blob whose bytes become the request's "contentFile" Base64
// here, so the page never encodes or copies them), {reset: true} (ends the
// host and its sessions). To the page: {answer}, {reading: contentId,
// fraction}, {sent: contentId} once a request is on its way to the host,
// {failure: text, contentId} for one request, {failure: text} when the host
// is gone. quorvantRelay.fileToBase64(file, onProgress) is the encoding alone.
const quorvantRelay = (() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const HOST_NAME = 'com.quorvant.signing_host';
  const CHUNK = 3 * 1024 * 1024;  // a multiple of 3: chunks encode without padding

  // Chromium reports why through runtime.lastError, Firefox on the port.
  function describeStop(error) {
    const reason = error && error.message ? error.message : 'it exited';
    if (/not found|no such native application/i.test(reason)) {
      return 'The signing host is not installed for this browser (' + reason + ').';
    }
    return 'The signing host stopped: ' + reason.replace(/\.?$/, '.');
  }

  function chunkToBase64(blob) {
    if (Uint8Array.prototype.toBase64) {
      return blob.arrayBuffer().then((buffer) => new Uint8Array(buffer).toBase64());
    }
    return new Promise((resolve, reject) => {  // browsers without toBase64
      const reader = new FileReader();
      reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
      reader.onerror = () => reject(reader.error);
      reader.readAsDataURL(blob);
    });
  }

  async function fileToBase64(file, onProgress) {
    const parts = [];
    for (let at = 0; at < file.size; at += CHUNK) {
      parts.push(await chunkToBase64(file.slice(at, at + CHUNK)));
      onProgress(Math.min(at + CHUNK, file.size) / file.size);
    }
    return parts.join('');
  }

  // tell(message) sends a message to the page; returns what the page's
  // messages go to and what to call when the page is gone.
  function relay(tell) {
    let host = null;

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

    function close() {
      if (host !== null) host.disconnect();
      host = null;
    }

    async function receive(message) {
      if (message && message.reset) close();
      const request = message && message.request;
      if (typeof request !== 'object' || request === null) return;
      const contentId = request.contentId;
      try {
        if (message.file) {
          const contentFile = await fileToBase64(message.file, (fraction) => tell({reading: contentId, fraction}));
          request.data = Object.assign({}, request.data, {contentFile});
        }
        if (host === null) host = connectHost();
        host.postMessage(request);
      } catch (error) {
        tell({failure: 'The request could not be passed on: ' + error.message, contentId});
        return;
      }
      tell({sent: contentId});
    }

    return {receive, close};
  }

  return Object.assign(relay, {fileToBase64});
})();
