// @quorvant/signing: signs files in a web page with the person's key
// containers, through the Quorvant extension and signing host.
// connect() finds the extension; signer.open() opens a key container;
// session.certificate() and session.sign() return DER bytes; session.close()
// ends it. Every failure is a SigningError whose `code` is one of
// ERROR_CODES; the `message` is plain words for the person at the page.
// signing.d.ts is the contract. Nothing here runs until connect() is called.

export const ERROR_CODES = Object.freeze([
  'extension-missing', 'host-missing', 'host-stopped', 'denied', 'timeout', 'too-large',
  'cancelled', 'insecure-context', 'library-failure', 'failed',
]);

export class SigningError extends Error {
  constructor(code, message, options) {
    super(message, options);
    this.name = 'SigningError';
    this.code = ERROR_CODES.includes(code) ? code : 'failed';
  }
}

const MiB = 1024 * 1024;
// The person may take a while to decide whether the site may use the product.
const ASKING_LIMIT_MS = 5 * 60 * 1000;
// The extension refuses what a page must not send ('refused': a local path):
// this library never sends one, so to a site it is a failure like any other.
const FAILURE_CODES = {
  'denied': 'denied', 'host-missing': 'host-missing', 'host-stopped': 'host-stopped',
  'too-large': 'too-large', 'cancelled': 'cancelled', 'refused': 'failed', 'failed': 'failed',
};
const EXTENSION_MISSING = 'The Quorvant signing extension is not installed or not enabled for this page. ' +
  'See "Installing the extension" in the Quorvant README.';

const portWaiters = [];
let listening = false;

function listenForPorts() {
  if (listening) return;
  listening = true;
  globalThis.addEventListener('message', (event) => {
    const message = event.data;
    if (event.source !== globalThis || !message || message.channel !== 'quorvant-port') return;
    const port = event.ports && event.ports[0];
    if (!port) return;
    // Not ours to close when no connect() waits: other code of the page may.
    const waiter = portWaiters.shift();
    if (waiter) waiter(port, message);
  });
}

// The bytes of the host's Base64, or null when there are none to read.
function fromBase64(text) {
  if (typeof text !== 'string') return null;
  try {
    if (Uint8Array.fromBase64) return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  } catch {
    return null;
  }
}

// Sizes to one decimal, rounded the way `round` says, so that a file just
// over a limit never reads as the limit itself.
function sizeText(bytes, round = Math.ceil) {
  if (bytes < MiB) return round(bytes / 1024) + ' KiB';
  return (round(bytes / MiB * 10) / 10).toFixed(1) + ' MiB';
}

function asBlob(content) {
  if (content instanceof Blob) return content;
  if (content instanceof ArrayBuffer || ArrayBuffer.isView(content)) return new Blob([content]);
  throw new TypeError('sign() takes a File, a Blob, an ArrayBuffer or a typed array');
}

export function connect({timeout = 120000, connectTimeout = 5000, onAsking, onHostStopped} = {}) {
  if (!globalThis.isSecureContext) {
    return Promise.reject(new SigningError('insecure-context',
        'This page is not a secure context (https), so it cannot use the Quorvant signing extension.'));
  }
  listenForPorts();
  return new Promise((resolve, reject) => {
    const waiter = (port, message) => {
      clearTimeout(timer);
      resolve(new Signer(port, message, {timeout, onAsking, onHostStopped}));
    };
    const timer = setTimeout(() => {
      portWaiters.splice(portWaiters.indexOf(waiter), 1);
      reject(new SigningError('extension-missing', EXTENSION_MISSING));
    }, connectTimeout);
    portWaiters.push(waiter);
    globalThis.postMessage({channel: 'quorvant-connect'}, globalThis.location.origin);
  });
}

// One port, one host process: the sessions of a signer live in that process.
class Signer {
  #port;
  #options;
  #pending = new Map();
  #nextId = 1;
  #hostRun = 0;  // counts hosts that went away: a session belongs to one run

  constructor(port, {version, maxFileBytes, browser}, options) {
    this.version = typeof version === 'string' ? version : '';
    this.maxFileBytes = typeof maxFileBytes === 'number' ? maxFileBytes : Infinity;
    this.browser = typeof browser === 'string' ? browser : '';
    this.#port = port;
    this.#options = options;
    port.onmessage = ({data}) => this.#receive(data);
  }

  async open(container = '') {
    const run = this.#hostRun;
    const answer = await this.#request(Object.assign({requestAction: 'openCryptoProvider'},
                                                     container ? {containerName: container} : {}));
    if (answer.handleProvider === undefined) throw noMember('key container handle');
    return new Session(answer.handleProvider, {
      send: (data, options) => this.#request(data, options),
      alive: () => run === this.#hostRun,
      maxFileBytes: this.maxFileBytes,
    });
  }

  // One request for the host; resolves with the answer's data on success.
  #request(data, {file, onProgress, signal} = {}) {
    const contentId = 'q' + this.#nextId++;
    return new Promise((resolve, reject) => {
      const entry = {resolve, reject, onProgress, asking: false, timer: null, signal, cancel: null};
      this.#pending.set(contentId, entry);
      if (signal) {
        entry.cancel = () => {
          this.#settle(contentId, (waiting) => waiting.reject(cancelled(signal)));
          this.#port.postMessage({cancel: contentId});
        };
        signal.addEventListener('abort', entry.cancel, {once: true});
      }
      this.#arm(entry, this.#options.timeout);
      this.#port.postMessage(file ? {request: {contentId, data}, file} : {request: {contentId, data}});
    });
  }

  // The limit runs again from every sign of life; a question to the person gets time to be answered.
  #arm(entry, milliseconds) {
    clearTimeout(entry.timer);
    entry.timer = setTimeout(() => this.#expire(entry.asking, milliseconds), milliseconds);
  }

  // The host may be stuck inside the library: it is ended, and its sessions with it.
  #expire(asking, milliseconds) {
    const seconds = milliseconds / 1000 + (milliseconds === 1000 ? ' second' : ' seconds');
    this.#port.postMessage({reset: true});
    this.#hostGone(new SigningError('timeout', asking ?
      'Nobody answered within ' + seconds + ' whether this site may use your key containers.' :
      'The signing host did not answer within ' + seconds + ' and was stopped.'));
  }

  #settle(contentId, outcome) {
    const entry = this.#pending.get(contentId);
    if (!entry) return;
    this.#pending.delete(contentId);
    clearTimeout(entry.timer);
    if (entry.cancel) entry.signal.removeEventListener('abort', entry.cancel);
    this.#stopAsking(entry);
    outcome(entry);
  }

  // The person answered (or the request ended): the question is over.
  #stopAsking(entry) {
    if (!entry.asking) return;
    entry.asking = false;
    if (this.#options.onAsking) this.#options.onAsking(false);
  }

  #hostGone(error) {
    this.#hostRun++;
    if (this.#pending.size === 0 && this.#options.onHostStopped) this.#options.onHostStopped(error);
    for (const contentId of [...this.#pending.keys()]) this.#settle(contentId, (entry) => entry.reject(error));
  }

  #receive(message) {
    if (typeof message !== 'object' || message === null) return;
    if (typeof message.failure === 'string') return this.#failure(message);
    const answer = message.answer;
    if (typeof answer === 'object' && answer !== null) {
      const data = typeof answer.data === 'object' && answer.data !== null ? answer.data : {};
      return this.#settle(answer.contentId, (entry) => {
        if (data.result === 'success') entry.resolve(data);
        else entry.reject(new SigningError('library-failure', data.description || 'The signing host reported an unknown error.'));
      });
    }
    const contentId = message.asking ?? message.sent ?? message.progress;
    const entry = this.#pending.get(contentId);
    if (!entry) return;
    if (message.asking !== undefined) {
      entry.asking = true;
      this.#arm(entry, Math.max(this.#options.timeout, ASKING_LIMIT_MS));
      if (this.#options.onAsking) this.#options.onAsking(true);
      return;
    }
    this.#stopAsking(entry);
    this.#arm(entry, this.#options.timeout);
    const {sentBytes, totalBytes} = message;
    if (message.progress !== undefined && entry.onProgress && Number.isFinite(sentBytes) && Number.isFinite(totalBytes)) {
      entry.onProgress({sentBytes, totalBytes});
    }
  }

  #failure({failure, code, contentId}) {
    const known = Object.hasOwn(FAILURE_CODES, code) && FAILURE_CODES[code];
    const error = new SigningError(known || (contentId == null ? 'host-stopped' : 'failed'), failure);
    if (contentId == null) return this.#hostGone(error);
    if (error.code === 'host-stopped') this.#hostRun++;
    this.#settle(contentId, (entry) => entry.reject(error));
  }
}

// An open key container; `signer` sends its requests and says whether the host that opened it still runs.
class Session {
  #handle;
  #signer;
  #closed = false;

  constructor(handle, signer) {
    this.#handle = handle;
    this.#signer = signer;
  }

  get closed() { return this.#closed || !this.#signer.alive(); }

  async certificate() {
    const certificate = fromBase64((await this.#request({requestAction: 'getCertificate'})).certificate);
    if (!certificate) throw noMember('certificate');
    return certificate;
  }

  async sign(content, {onProgress, signal} = {}) {
    const file = asBlob(content);
    if (signal && signal.aborted) throw cancelled(signal);
    const limit = this.#signer.maxFileBytes;
    if (file.size > limit) {
      const what = typeof file.name === 'string' && file.name ? file.name : 'The content';
      throw new SigningError('too-large', what + ' is ' + sizeText(file.size) + ', more than the ' +
                             sizeText(limit, Math.floor) + ' the signing host accepts.');
    }
    const signature = fromBase64((await this.#request({requestAction: 'getSignature'}, {file, onProgress, signal})).signature);
    if (!signature) throw noMember('signature');
    return signature;
  }

  async close() {
    if (this.closed) return;
    this.#closed = true;
    await this.#signer.send({requestAction: 'closeCryptoProvider', handleProvider: this.#handle});
  }

  #request(data, options) {
    if (this.#closed) return Promise.reject(new SigningError('failed', 'This key container is closed; open it again.'));
    if (this.closed) {
      return Promise.reject(new SigningError('host-stopped', 'The signing host stopped after this key container was opened; open it again.'));
    }
    return this.#signer.send(Object.assign(data, {handleProvider: this.#handle}), options);
  }
}

function cancelled(signal) {
  return new SigningError('cancelled', 'Signing was cancelled.', {cause: signal.reason});
}

function noMember(what) {
  return new SigningError('library-failure', 'The signing host\'s answer holds no readable ' + what + '.');
}
