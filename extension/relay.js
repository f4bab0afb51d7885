// The extension's one piece of messaging code: relays one page's requests to
// a signing host of its own and the host's answers back. One host process per
// page: provider sessions live inside that process, so a page's handles stay
// valid until the page goes away. No host starts before the page's origin
// may use the product (sites.js; the person is asked in a window).
//
// From the page: {request: {contentId, data}}, {request, file} (file: a
// Blob; it goes to the host in parts of PART_BYTES with "stageContent", then
// "getSignature" signs the staged file), {cancel: contentId}, {reset: true}.
// To the page: {answer}, {asking: contentId}, {sent: contentId},
// {progress: contentId, sentBytes, totalBytes} after each part the host
// acknowledged, {failure, code, contentId} for one request, {failure, code}
// when the host is gone. Anything of another shape is ignored.
const quorvantRelay = (() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const HOST_NAME = 'com.quorvant.signing_host';
  // The largest file the host stages and signs; told to pages as maxFileBytes.
  const MAX_FILE_BYTES = 512 * 1024 * 1024;
  // 384 KiB of file is 512 KiB of Base64: both browsers pass messages of
  // 256-512 KiB to the host fastest, and slow down beyond 1 MiB. A multiple of
  // 3, so only the last part carries padding.
  const PART_BYTES = 384 * 1024;
  // An approval window nobody answers counts as Deny after this long.
  const APPROVAL_MS = 2 * 60 * 1000;

  const TEXTS = {
    denied: 'You did not allow this site to use your keys.',
    blocked: 'Your administrator does not allow this site to use your keys.',
    refused: 'A web page may not name files or folders on this computer.',
    tooLarge: 'The file is larger than the ' + MAX_FILE_BYTES / 1024 / 1024 + ' MiB the signing host signs.',
    cancelled: 'Signing was cancelled.',
    empty: 'The file is empty: there is nothing to sign.',
  };

  // Chromium reports why through runtime.lastError, Firefox on the port.
  function describeStop(error) {
    const reason = error && error.message ? error.message : 'it exited';
    if (/not found|no such native application/i.test(reason)) {
      return {failure: 'The signing host is not installed for this browser (' + reason + ').', code: 'host-missing'};
    }
    return {failure: 'The signing host stopped: ' + reason.replace(/\.?$/, '.'), code: 'host-stopped'};
  }

  function blobToBase64(blob) {
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

  // What the relay reads a file through: its size and the Base64 of a slice.
  function blobSource(blob) {
    return {size: blob.size, read: (start, end) => blobToBase64(blob.slice(start, end))};
  }

  const isBlob = (file) => typeof Blob === 'function' && file instanceof Blob;
  const isObject = (value) => typeof value === 'object' && value !== null && !Array.isArray(value);
  const isRequest = (request) => isObject(request) && typeof request.contentId === 'string' && isObject(request.data);

  // Opens the approval window for `origin`. Returns {answer, close}: answer
  // resolves {allow, remember}; a closed window or no answer is a Deny.
  function askPerson(origin) {
    const ask = crypto.randomUUID();
    const page = api.runtime.getURL('approve.html');
    let windowId = null;
    let settled = false;
    let finish;
    const answer = new Promise((resolve) => {
      const onAnswer = (message, sender) => {
        if (isObject(message) && message.approval === ask && String(sender.url).startsWith(page)) {
          finish(message.allow === true, message.remember === true);
        }
      };
      const onClosed = (id) => { if (id === windowId) finish(false); };
      const timer = setTimeout(() => finish(false), APPROVAL_MS);
      finish = (allow, remember = false) => {
        if (settled) return;
        settled = true;
        clearTimeout(timer);
        api.runtime.onMessage.removeListener(onAnswer);
        api.windows.onRemoved.removeListener(onClosed);
        if (windowId !== null) api.windows.remove(windowId).catch(() => {});
        resolve({allow, remember});
      };
      api.runtime.onMessage.addListener(onAnswer);
      api.windows.onRemoved.addListener(onClosed);
      api.windows.create({url: page + '?' + new URLSearchParams({origin, ask}), type: 'popup', width: 520, height: 400})
          .then((created) => {
            windowId = created.id;
            if (settled) api.windows.remove(windowId).catch(() => {});
          }, () => finish(false));
    });
    return {answer, close: () => finish(false)};
  }

  // `origin` is the page's origin as the browser established it; tell(message)
  // sends a message to the page. Returns what the page's messages go to and
  // what to call when the page is gone.
  function relay(origin, tell) {
    let host = null;
    let allowedHere = false;  // allowed for this page without remembering
    let asking = null;
    const calls = new Map();  // the relay's own host requests by contentId
    const pending = new Map();  // page requests not yet passed on, or being staged
    const ownIds = 'quorvant-' + crypto.randomUUID() + '-';
    let nextId = 0;

    function connectHost() {
      const port = api.runtime.connectNative(HOST_NAME);
      port.onMessage.addListener((answer) => {
        const call = isObject(answer) && calls.get(answer.contentId);
        if (!call) return tell({answer});
        calls.delete(answer.contentId);
        call.resolve(isObject(answer.data) ? answer.data : {});
      });
      port.onDisconnect.addListener((stopped) => {
        if (host !== port) return;
        host = null;
        stopAll();
        tell(describeStop(stopped.error || api.runtime.lastError));
      });
      return port;
    }

    function post(request) {
      if (host === null) host = connectHost();
      host.postMessage(request);
    }

    // One request of the relay's own; resolves with the answer's data and
    // rejects when the host goes away first.
    function call(data) {
      const contentId = ownIds + nextId++;
      return new Promise((resolve, reject) => {
        calls.set(contentId, {resolve, reject});
        post({contentId, data});
      });
    }

    // Every waiting request ends without a word: the page hears of it as a
    // whole (host gone, or its own reset).
    function stopAll() {
      for (const waiting of calls.values()) waiting.reject(new Error('host gone'));
      calls.clear();
      for (const entry of pending.values()) entry.stopped = true;
      pending.clear();
      if (asking !== null) asking.close();
    }

    function fail(contentId, code, failure = TEXTS[code]) {
      pending.delete(contentId);
      tell({failure, code, contentId});
    }

    async function decide(contentId) {
      if (allowedHere) return 'allowed';
      const verdict = await quorvantSites.decide(origin);
      if (verdict !== 'ask') return verdict;
      tell({asking: contentId});
      if (asking === null) {
        asking = askPerson(origin);
        asking.answer.then(() => { asking = null; });
      }
      const {allow, remember} = await asking.answer;
      // Allowed without "remember": good for this page until it goes.
      if (allow && !remember) allowedHere = true;
      return allow ? 'allowed' : 'denied';
    }

    async function sendFile(contentId, data, file, entry) {
      let staged = '';
      let at = 0;
      tell({sent: contentId});
      while (at < file.size && !entry.stopped) {
        const end = Math.min(at + PART_BYTES, file.size);
        const part = {requestAction: 'stageContent', contentFile: await file.read(at, end)};
        if (staged) part.stagedContent = staged;
        if (entry.stopped) break;
        const answer = await call(part);
        if (answer.result !== 'success') return entry.stopped || fail(contentId, 'failed', answer.description || 'Staging failed.');
        staged = answer.stagedContent;
        at = end;
        if (!entry.stopped) tell({progress: contentId, sentBytes: answer.stagedBytes, totalBytes: file.size});
      }
      if (entry.stopped) {
        if (staged && host !== null) call({requestAction: 'stageContent', stagedContent: staged, discard: true}).catch(() => {});
        return;
      }
      const request = Object.assign({}, data, {stagedContent: staged});
      delete request.contentFile;
      const answer = await call(request);
      if (entry.stopped) return;
      pending.delete(contentId);
      tell({answer: {contentId, data: answer}});
    }

    async function pass(request, source) {
      const contentId = request.contentId;
      if ('fileDataPath' in request.data || 'workingDirectory' in request.data) return fail(contentId, 'refused');
      if (source && source.size > MAX_FILE_BYTES) return fail(contentId, 'too-large', TEXTS.tooLarge);
      if (source && source.size === 0) return fail(contentId, 'failed', TEXTS.empty);  // the host signs no empty content
      const entry = {stopped: false};
      pending.set(contentId, entry);
      const verdict = await decide(contentId);
      if (entry.stopped) return;
      if (verdict !== 'allowed') return fail(contentId, 'denied', TEXTS[verdict]);
      if (source) return sendFile(contentId, request.data, source, entry);
      pending.delete(contentId);
      post(request);
      tell({sent: contentId});
    }

    function cancel(contentId) {
      const entry = pending.get(contentId);
      if (!entry) return;
      entry.stopped = true;
      fail(contentId, 'cancelled');
    }

    function close() {
      stopAll();
      if (host !== null) host.disconnect();
      host = null;
    }

    // file: a Blob, or a source as blobSource makes one (the background's
    // stand-in for a file that stays in a Chromium content script).
    async function receive(message) {
      if (!isObject(message)) return;
      if (message.reset === true) return close();
      if (typeof message.cancel === 'string') return cancel(message.cancel);
      const {request, file} = message;
      if (!isRequest(request) || pending.has(request.contentId)) return;
      const source = isBlob(file) ? blobSource(file) : file;
      if (source !== undefined && !(isObject(source) && Number.isSafeInteger(source.size) && source.size >= 0 &&
                                   typeof source.read === 'function' && request.data.requestAction === 'getSignature')) {
        return;
      }
      try {
        await pass(request, source);
      } catch (error) {
        const entry = pending.get(request.contentId);
        if (entry && !entry.stopped) fail(request.contentId, 'failed', 'The request could not be passed on: ' + error.message);
      }
    }

    return {receive, close};
  }

  return Object.assign(relay, {MAX_FILE_BYTES, blobSource});
})();
