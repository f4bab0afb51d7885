// The example extension and demo page in Debian's Chromium with the PKCS#11
// library installed by register.sh --token pkcs11, over the SoftHSM2 tokens
// and scripted pinentry that tests/stages/35-pkcs11.sh sets up.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {readFileSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';
import {prepareHome, serveDemo, opensslVerify, removeScratch, repository} from '../browser/browser_setup.mjs';
import {launchChromium} from '../browser/chromium_driver.mjs';

const build = process.env.QUORVANT_BUILD || join(repository, 'build/release');
let setup, demo, browser;

const ask = (data) => browser.evaluate((request) => signingClient.request(request), data);

before(async () => {
  setup = prepareHome(build);
  demo = await serveDemo();
  browser = await launchChromium(setup);
  await browser.goto(demo.url);
  for (let tries = 0; !(await browser.evaluate(() =>
         document.getElementById('status').textContent.startsWith('Ready'))); tries++) {
    assert.ok(tries < 200, 'the page becomes ready');
    await new Promise((done) => setTimeout(done, 100));
  }
});

after(async () => {
  if (browser) await browser.close();
  if (demo) demo.server.close();
  if (setup) removeScratch(setup);
});

test('a token key signs in a session the page holds, after one PIN dialog', async () => {
  const data = join(setup.scratch, 'contract.txt');
  writeFileSync(data, 'Contract signed with a token\n');
  const opened = await ask({requestAction: 'openCryptoProvider', containerName: 'T1/ec'});
  assert.equal(opened.result, 'success', opened.description);
  const handleProvider = opened.handleProvider;
  const signed = await ask({requestAction: 'getSignature', handleProvider, fileDataPath: data});
  assert.equal(signed.result, 'success', signed.description);
  const certificate = (await ask({requestAction: 'getCertificate', handleProvider})).certificate;
  assert.ok(opensslVerify(setup.scratch, signed.signature, certificate, data), 'OpenSSL accepts');
  writeFileSync(data, 'Contract altered\n');
  assert.ok(!opensslVerify(setup.scratch, signed.signature, certificate, data), 'OpenSSL rejects');
  assert.equal((await ask({requestAction: 'closeCryptoProvider', handleProvider})).result, 'success');
  const dialogs = readFileSync(process.env.PINENTRY_LOG, 'utf8').match(/^GETPIN$/gm);
  assert.equal(dialogs.length, 1);
});
