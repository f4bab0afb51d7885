// The page library against a stand-in of the page's window and of the
// extension's port: what it posts, how it reads every answer, its limits.
import {test, mock, beforeEach, afterEach} from 'node:test';
import assert from 'node:assert/strict';
import {connect} from '@quorvant/signing';

const HOST = {openCryptoProvider: {handleProvider: 7}, getCertificate: {certificate: 'MAMCAQE='},
              getSignature: {signature: 'MAA='}, closeCryptoProvider: {}};
const success = (request) => ({answer: {contentId: request.contentId,
                                        data: {result: 'success', ...HOST[request.data.requestAction]}}});
const page = new EventTarget();
let extension;  // null: not installed; else {reply(message) -> messages, port}

Object.assign(globalThis, {
  location: {origin: 'https://portal.example'},
  addEventListener: page.addEventListener.bind(page),
  postMessage(message, origin) {
    if (!extension || message.channel !== 'quorvant-connect' || origin !== location.origin) return;
    const port = extension.port = {posted: [], close() {}, postMessage(sent) {
      this.posted.push(sent);
      for (const answer of extension.reply(sent)) queueMicrotask(() => port.onmessage({data: answer}));
    }};
    queueMicrotask(() => page.dispatchEvent(Object.assign(new Event('message'), {source: globalThis, ports: [port],
      data: {channel: 'quorvant-port', version: '1.0.0', maxFileBytes: 4, browser: 'Firefox'}})));
  },
});

const tell = async (message) => { extension.port.onmessage({data: message}); await Promise.resolve(); };
const last = () => extension.port.posted.at(-1);
const rejects = (promise, code, message = /./) => assert.rejects(promise, {name: 'SigningError', code, message});
async function opened(options) {
  const signer = await connect({timeout: 1000, ...options});
  return {signer, session: await signer.open('C1')};
}

beforeEach(() => {
  globalThis.isSecureContext = true;
  extension = {reply: (sent) => sent.request ? [success(sent.request)] : []};
  mock.timers.enable({apis: ['setTimeout']});
});
afterEach(() => mock.timers.reset());

test('connect: the signer carries the extension\'s version and limit', async () => {
  const signer = await connect();
  assert.deepEqual([signer.version, signer.maxFileBytes, signer.browser], ['1.0.0', 4, 'Firefox']);
  extension = null;
  const missing = connect({connectTimeout: 50});
  mock.timers.tick(50);
  await rejects(missing, 'extension-missing', /"Installing the extension"/);
  globalThis.isSecureContext = false;
  await rejects(connect(), 'insecure-context');
});

test('requests: what each call posts, and what it returns', async () => {
  const {signer, session} = await opened();
  assert.deepEqual(extension.port.posted[0].request.data, {requestAction: 'openCryptoProvider', containerName: 'C1'});
  assert.deepEqual(await session.certificate(), Uint8Array.of(0x30, 3, 2, 1, 1));
  const progress = [];
  extension.reply = (sent) => [{asking: sent.request.contentId}, {sent: sent.request.contentId},
    {progress: sent.request.contentId, sentBytes: 'x', totalBytes: 3},
    {progress: sent.request.contentId, sentBytes: 3, totalBytes: 3}, success(sent.request)];
  assert.deepEqual(await session.sign(Uint8Array.of(1, 2, 3), {onProgress: (p) => progress.push(p)}), Uint8Array.of(0x30, 0));
  assert.deepEqual(last().request.data, {requestAction: 'getSignature', handleProvider: 7});
  assert.deepEqual([...new Uint8Array(await last().file.arrayBuffer())], [1, 2, 3]);
  assert.deepEqual(progress, [{sentBytes: 3, totalBytes: 3}]);
  await session.close();
  await session.close();
  assert.deepEqual(last().request.data, {requestAction: 'closeCryptoProvider', handleProvider: 7});
  assert.equal(extension.port.posted.length, 4);
  await rejects(session.certificate(), 'failed');
  await signer.open();
  assert.deepEqual(last().request.data, {requestAction: 'openCryptoProvider'});
});

// What the extension answers to a signing request, and the failure the page gets.
const failures = [
  [(id) => ({answer: {contentId: id, data: {result: 'error', description: 'Wrong PIN'}}}), 'library-failure', /^Wrong PIN$/],
  [(id) => ({answer: {contentId: id, data: {result: 'success'}}}), 'library-failure', /without a signature/],
  ...['denied', 'host-missing', 'too-large', 'cancelled', 'failed'].map((code) =>
    [(id) => ({failure: 'In words.', code, contentId: id}), code, /^In words\.$/]),
  [(id) => ({failure: 'A path.', code: 'refused', contentId: id}), 'failed'],
  [(id) => ({failure: 'New.', code: 'constructor', contentId: id}), 'failed'],
  [() => ({failure: 'It exited.', code: 'host-stopped'}), 'host-stopped', /^It exited\.$/, true],
  [() => ({failure: 'Disconnected.'}), 'host-stopped', /./, true],
];
for (const [answer, code, message, sessionLost] of failures) {
  test(`failure: ${JSON.stringify(answer('q2'))} -> ${code}`, async () => {
    const {session} = await opened();
    extension.reply = (sent) => [null, {answer: null}, answer(sent.request.contentId)];
    await rejects(session.sign(new Blob(['x'])), code, message);
    assert.equal(session.closed, Boolean(sessionLost));
  });
}

test('too large: nothing is sent', async () => {
  const {session} = await opened();
  await rejects(session.sign(new File(['12345'], 'big.pdf')), 'too-large', /^big\.pdf is 1 KiB, more than the 0 KiB/);
  assert.equal(extension.port.posted.length, 1);
});

test('cancel: rejects at once, tells the extension, ignores what comes later', async () => {
  const {session} = await opened();
  extension.reply = () => [];
  const aborting = new AbortController();
  const signing = session.sign(new Blob(['x']), {signal: aborting.signal});
  aborting.abort();
  await rejects(signing, 'cancelled');
  assert.deepEqual(last(), {cancel: 'q2'});
  await tell({answer: {contentId: 'q2', data: {result: 'success', signature: ''}}});
  await rejects(session.sign(new Blob(['x']), {signal: aborting.signal}), 'cancelled');
  assert.equal(extension.port.posted.length, 3);
});

test('time limit: each sign of life starts it again, a question to the person waits longer', async () => {
  const stopped = [];
  const {session} = await opened({onHostStopped: (error) => stopped.push(error.code)});
  extension.reply = () => [];
  const signing = session.sign(new Blob(['x']));
  for (const message of [{sent: 'q2'}, {progress: 'q2', sentBytes: 1, totalBytes: 1}, {asking: 'q2'}]) {
    mock.timers.tick(999);
    await tell(message);
  }
  mock.timers.tick(5 * 60 * 1000 - 1);
  await tell({sent: 'q2'});
  assert.equal(extension.port.posted.length, 2, 'no reset yet');
  mock.timers.tick(1000);
  await rejects(signing, 'timeout', /^The signing host did not answer within 1 second and was stopped\.$/);
  assert.deepEqual(last(), {reset: true});
  assert.ok(session.closed);
  await rejects(session.certificate(), 'host-stopped');
  await tell({failure: 'It exited.', code: 'host-stopped'});
  assert.deepEqual(stopped, ['host-stopped']);
});
