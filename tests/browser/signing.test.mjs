// The example extension and demo page in Debian's Chromium, headless, with
// the installed host and the software token: the page's whole flow and the
// failure cases, each signature judged by OpenSSL.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {writeFileSync} from 'node:fs';
import {join} from 'node:path';
import {prepareHome, serveDemo, launchBrowser, opensslVerify, removeScratch, repository,
        extensionId} from './browser_setup.mjs';

const build = process.env.QUORVANT_BUILD || join(repository, 'build/release');
let setup;
let demo;
let browser;
let page;

// One request through the page's client, as the demo page sends it.
function ask(data) {
  return page.evaluate((request) => signingClient.request(request), data);
}

async function statusAfter(click, expected) {
  await page.click(click);
  await page.waitForFunction(
      (text) => document.getElementById('status').textContent.includes(text) ||
                document.getElementById('status').className === 'error',
      expected, {timeout: 20000});
  return page.textContent('#status');
}

before(async () => {
  setup = prepareHome(build);
  demo = await serveDemo();
  browser = await launchBrowser(setup);
  page = await browser.context.newPage();
  await page.goto(demo.url);
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Ready'),
                             null, {timeout: 20000});
});

after(async () => {
  if (browser) await browser.context.close();
  if (demo) demo.server.close();
  if (setup) removeScratch(setup);
});

test('the extension has the ID its key fixes', () => {
  assert.equal(new URL(browser.worker.url()).host, extensionId);
});

test('the demo page opens, shows the subject, signs a picked file and closes', async () => {
  const data = join(setup.scratch, 'contract.txt');
  writeFileSync(data, 'Contract Nr. 7\u00e9\nsigned in the browser\n');
  await page.fill('#container', 'demo');
  assert.match(await statusAfter('#open', 'is open'), /The key container is open/);
  assert.equal(await page.textContent('#subject'), 'CN=demo, O=Quorvant test');
  await page.setInputFiles('#file', data);
  assert.match(await statusAfter('#sign', 'is signed'), /contract\.txt is signed/);
  const signature = await page.inputValue('#signature');
  const certificate = (await ask({requestAction: 'getCertificate', containerName: 'demo'})).certificate;
  assert.ok(opensslVerify(setup.scratch, signature, certificate, data), 'OpenSSL accepts');
  writeFileSync(data, 'Contract Nr. 8\n');
  assert.ok(!opensslVerify(setup.scratch, signature, certificate, data), 'OpenSSL rejects');
  assert.match(await statusAfter('#close', 'is closed'), /The key container is closed/);
});

test('a file path is signed within an open session', async () => {
  const data = join(setup.scratch, 'by-path.bin');
  writeFileSync(data, Buffer.from([0, 1, 2, 255, 10, 13]));
  const opened = await ask({requestAction: 'openCryptoProvider'});
  assert.equal(opened.result, 'success', opened.description);
  const handleProvider = opened.handleProvider;
  const signed = await ask({requestAction: 'getSignature', handleProvider, fileDataPath: data});
  assert.equal(signed.result, 'success', signed.description);
  const certificate = (await ask({requestAction: 'getCertificate', handleProvider})).certificate;
  assert.ok(opensslVerify(setup.scratch, signed.signature, certificate, data));
  const closed = await ask({requestAction: 'closeCryptoProvider', handleProvider});
  assert.equal(closed.result, 'success', closed.description);
});

test('an unknown action is answered with an error', async () => {
  const answer = await ask({requestAction: 'frobnicate'});
  assert.deepEqual(answer, {description: 'Unknow request action frobnicate',
                            requestAction: 'frobnicate', result: 'error'});
});

test('a failing container is reported in plain words', async () => {
  const answer = await ask({requestAction: 'openCryptoProvider', containerName: 'broken'});
  assert.equal(answer.result, 'error');
  assert.match(answer.description, /^Key container cannot be read: broken: /);
  await page.fill('#container', 'broken');
  assert.match(await statusAfter('#open', 'never'),
               /^Opening the key container failed: Key container cannot be read/);
});

test('an echoed member holding a control character still reaches the page', async () => {
  const note = 'bell\u0007 and\u0001 tab\t';
  const answer = await ask({requestAction: 'getCertificate', containerName: 'demo', note});
  assert.equal(answer.result, 'success', answer.description);
  assert.equal(answer.note, note);
});
