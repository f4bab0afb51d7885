// The example extension and demo page in Debian's Chromium with the PKCS#11
// library installed by register.sh --token pkcs11, over the SoftHSM2 tokens
// and scripted pinentry that tests/stages/35-pkcs11.sh sets up.
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {readFileSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';
import {prepareHome, serveDemo, opensslVerify, removeScratch, repository} from '../browser/browser_setup.mjs';
import {launchChromium} from '../browser/chromium_driver.mjs';

test('a token key signs in a session the page holds, after one PIN dialog', {timeout: 180000}, async () => {
  const setup = prepareHome(process.env.QUORVANT_BUILD || join(repository, 'build/release'));
  const demo = await serveDemo();
  const browser = await launchChromium(setup);
  const ask = (data) => browser.evaluate((request) => signingClient.request(request), data);
  try {
    await browser.goto(demo.url);
    while (!(await browser.evaluate(() => document.getElementById('status').textContent.startsWith('Ready')))) {
      await new Promise((done) => setTimeout(done, 100));
    }
    const data = join(setup.scratch, 'contract.txt');
    writeFileSync(data, 'Contract signed with a token\n');
    const {handleProvider, description} = await ask({requestAction: 'openCryptoProvider', containerName: 'T1/ec'});
    assert.ok(handleProvider, description);
    const signed = await ask({requestAction: 'getSignature', handleProvider, fileDataPath: data});
    const {certificate} = await ask({requestAction: 'getCertificate', handleProvider});
    assert.ok(opensslVerify(setup.scratch, signed.signature, certificate, data), signed.description);
    assert.equal((await ask({requestAction: 'closeCryptoProvider', handleProvider})).result, 'success');
    assert.equal(readFileSync(process.env.PINENTRY_LOG, 'utf8').match(/^GETPIN$/gm).length, 1);
  } finally {
    await browser.close();
    demo.server.close();
    removeScratch(setup);
  }
});
