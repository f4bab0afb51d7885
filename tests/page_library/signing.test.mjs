// The page library against stand-ins of the page's window and the extension's port (which answers open and certificate).
import {test, mock, beforeEach} from 'node:test';
import assert from 'node:assert/strict';
import {connect} from '@quorvant/signing';

const HOST = {openCryptoProvider: {handleProvider: 7}, getCertificate: {certificate: 'MAMCAQE='}, closeCryptoProvider: {}};
const answer = ({contentId, data}, more) => ({answer: {contentId, data: {result: 'success', ...HOST[data.requestAction], ...more}}});
const page = new EventTarget(), event = (fields) => Object.assign(new Event('message'), fields);
let extension, port;  // extension: null when not installed, else (posted message) => its replies
Object.assign(globalThis, {location: {origin: 'https://site.example'}, addEventListener: page.addEventListener.bind(page),
  postMessage: (message, origin) => extension && origin === location.origin && page.dispatchEvent(event({source: globalThis,
    data: {channel: 'quorvant-port', version: '1.0', maxFileBytes: 4, browser: 'Firefox'}, ports: [port = {posted: [], postMessage(sent) {
      this.posted.push(sent);
      for (const reply of extension(sent)) queueMicrotask(() => port.onmessage({data: reply}));
    }}]}))});
const tell = async (reply) => { port.onmessage({data: reply}); await Promise.resolve(); };
const rejects = (promise, code, message = /./) => assert.rejects(promise, {name: 'SigningError', code, message});
const opened = async (options) => (await connect({timeout: 1000, ...options})).open('C1');
beforeEach(() => {
  globalThis.isSecureContext = true;
  extension = (sent) => sent.request && HOST[sent.request.data.requestAction] ? [answer(sent.request)] : [];
  mock.timers.reset();
  mock.timers.enable({apis: ['setTimeout']});
});

test('connect and requests: what each call posts and returns; progress only as the host acknowledged it', async () => {
  const signer = await connect();
  await signer.open();
  assert.deepEqual([{...signer}, port.posted[0].request.data], [{version: '1.0', maxFileBytes: 4, browser: 'Firefox'}, {requestAction: 'openCryptoProvider'}]);
  const session = await opened(), progress = [];
  assert.deepEqual(await session.certificate(), Uint8Array.of(0x30, 3, 2, 1, 1));
  extension = (sent) => [{progress: 'q3', sentBytes: 'x', totalBytes: 3}, {progress: 'q3', sentBytes: 3, totalBytes: 3},
    answer(sent.request, {signature: 'MAA='})];
  assert.deepEqual(await session.sign(Uint8Array.of(1, 2, 3), {onProgress: (p) => progress.push(p)}), Uint8Array.of(0x30, 0));
  assert.deepEqual([progress, [...new Uint8Array(await port.posted[2].file.arrayBuffer())]], [[{sentBytes: 3, totalBytes: 3}], [1, 2, 3]]);
  await session.close().then(() => session.close());
  assert.deepEqual(port.posted.map(({request}) => request.data), [{requestAction: 'openCryptoProvider', containerName: 'C1'},
    {requestAction: 'getCertificate', handleProvider: 7}, {requestAction: 'getSignature', handleProvider: 7},
    {requestAction: 'closeCryptoProvider', handleProvider: 7}]);
  extension = null;
  const missing = connect({connectTimeout: 50});
  page.dispatchEvent(event({source: {}, ports: [{}], data: {channel: 'quorvant-port'}}));  // another frame's port
  mock.timers.tick(50);
  await rejects(missing, 'extension-missing', /"Installing the extension"/);
  globalThis.isSecureContext = false;
  await rejects(connect(), 'insecure-context');
});

// The extension's reply to a signing request (with `result`: the host's answer), the page's failure, whether the session is gone.
for (const [reply, code, lost] of [[{result: 'error', description: 'In words.'}, 'library-failure'], [{result: 'success', signature: '#'}, 'library-failure'],
  ...['denied', 'host-missing', 'too-large', 'cancelled', 'failed'].map((code) => [{code}, code]), [{code: 'refused'}, 'failed'],
  [{code: 'host-stopped'}, 'host-stopped', true], [{code: 'host-missing', contentId: null}, 'host-missing', true], [{contentId: null}, 'host-stopped', true]]) {
  test(`failure: ${JSON.stringify(reply)} -> ${code}`, async () => {
    const session = await opened();
    extension = ({request: {contentId}}) => [null, {answer: null}, reply.result ? {answer: {contentId, data: reply}} : {failure: 'In words.', contentId, ...reply}];
    await rejects(session.sign(new Blob(['x'])), code, reply.result === 'success' ? /no readable signature/ : /^In words\.$/);
    assert.equal(session.closed, Boolean(lost));
  });
}

test('cancel: rejects at once, tells the extension; time limit: starts again at each sign of life', async () => {
  const heard = [], session = await opened({onAsking: (asking) => heard.push(asking), onHostStopped: (error) => heard.push(error.code)});
  const aborting = new AbortController();
  const cancelled = session.sign(new Blob(['x']), {signal: aborting.signal});
  aborting.abort();
  await rejects(cancelled, 'cancelled');
  await rejects(session.sign(new Blob(['x']), {signal: aborting.signal}), 'cancelled');
  const signing = session.sign(new Blob(['x']));
  for (const [wait, reply] of [[999, {sent: 'q3'}], [999, {progress: 'q3', sentBytes: 1, totalBytes: 1}], [999, {asking: 'q3'}], [299999, {sent: 'q3'}]]) {
    mock.timers.tick(wait);
    await tell(reply);
  }
  mock.timers.tick(999);
  assert.deepEqual(port.posted.slice(2).map((sent) => sent.cancel || sent.reset), ['q2', undefined], 'not stopped yet');
  mock.timers.tick(1);
  await rejects(signing, 'timeout', /^The signing host did not answer within 1 second and was stopped\.$/);
  await rejects(session.certificate(), 'host-stopped');
  await tell({failure: 'It exited.', code: 'host-stopped'});
  assert.deepEqual([port.posted[4], session.closed, heard], [{reset: true}, true, [true, false, 'host-stopped']]);
});
