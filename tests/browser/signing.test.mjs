// The demo page in headless Chromium or Firefox (QUORVANT_BROWSER) with the
// software token, or the PKCS#11 one of 35-pkcs11.sh (QUORVANT_TEST_TOKEN):
// a table of what a person does and sees, each signature judged by OpenSSL.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {mkdirSync, readFileSync, renameSync, rmSync, truncateSync, writeFileSync} from 'node:fs';
import {randomBytes} from 'node:crypto';
import {join} from 'node:path';
import {prepareHome, serveDemo, opensslVerify, repository, hostProcesses} from './browser_setup.mjs';
import {launchChromium} from './chromium_driver.mjs';
import {launchFirefox} from './firefox_driver.mjs';

const build = process.env.QUORVANT_BUILD || join(repository, 'build/release');
const which = process.env.QUORVANT_BROWSER || 'chromium';
const launch = {chromium: launchChromium, firefox: launchFirefox}[which];
const pkcs11 = process.env.QUORVANT_TEST_TOKEN === 'pkcs11';
const container = pkcs11 ? 'T1/ec' : 'demo';
const shots = join(build, 'browser-screenshots', which + (pkcs11 ? '-pkcs11' : ''));
let setup, demo, browser, stopped = [];

const text = (id) => browser.evaluate((name) => document.getElementById(name).textContent, id);
const signature = () => browser.evaluate(() => document.getElementById('signature').value);
const enabled = () => browser.evaluate(() => Object.fromEntries(
    ['open', 'container', 'file', 'sign', 'close'].map((id) => [id, !document.getElementById(id).disabled])));

// A page state to wait for: by default the end of a step (no "…" left).
const settled = () => !document.getElementById('status').textContent.endsWith('…');
const sending = () => document.getElementById('phase').textContent.startsWith('Sending the file');
async function waitFor(predicate) {
  for (let tries = 0; tries < 1200; tries++) {
    if (await browser.evaluate(predicate)) return;
    await new Promise((wake) => setTimeout(wake, 100));
  }
  assert.fail(`the page never reached ${predicate}; status: ${await text('status')}`);
}

function dataFile(name, content) {
  writeFileSync(join(setup.scratch, name), content);
  return join(setup.scratch, name);
}

async function sign(path) {
  await browser.setFile('#file', path);
  await browser.click('#sign');
}

async function verify(path) {
  const certificate = await browser.evaluate(() => document.getElementById('certificate').value);
  assert.ok(opensslVerify(setup.scratch, await signature(), certificate, path), 'OpenSSL accepts');
}

async function open() {
  await browser.evaluate((name) => { document.getElementById('container').value = name; }, container);
  await browser.click('#open');
}

function stopHost(signal) {
  const pids = signal === 'SIGSTOP' ? hostProcesses(setup) : stopped;
  assert.ok(pids.length > 0, 'a host is running');
  pids.forEach((pid) => process.kill(pid, signal));
  stopped = signal === 'SIGSTOP' ? pids : [];
}

const contract = () => dataFile('contract.txt', 'Contract Nr. 7\u00e9\nsigned in the browser\n');
const closedControls = {open: true, container: true, file: true, sign: false, close: false};
const openControls = {open: false, container: false, file: true, sign: true, close: true};
const noControls = {open: false, container: false, file: false, sign: false, close: false};

// Each row: act, status, usable controls, check; `token` rows also run with
// PKCS#11, whose session asks for the PIN once.
const scenarios = [
  {name: 'ready', token: true, status: /^Ready\. Open your key container to begin\.$/, controls: closedControls},
  {name: 'opened', token: true, act: open, status: /^The key container is open\./,
   controls: openControls, check: async () =>
     assert.equal(await text('subject'), pkcs11 ? 'CN=ec, O=Token T1' : 'CN=demo, O=Quorvant test')},
  {name: 'signed', token: true, act: () => sign(contract()), status: /^contract\.txt is signed\.$/, check: () => {
    if (pkcs11) assert.equal(readFileSync(process.env.PINENTRY_LOG, 'utf8').match(/^GETPIN$/gm).length, 1);
    return verify(contract());
  }},
  {name: 'too-big', act: async () => {
    const path = dataFile('too-big.bin', '');
    truncateSync(path, 1 + Number(await browser.evaluate(() => document.documentElement.dataset.quorvantMaxFileBytes)));
    await sign(path);
  }, status: /^Signing failed: too-big\.bin is [\d.]+ MiB, more than the [\d.]+ MiB the signing host accepts\./,
  controls: openControls, check: async () => assert.equal(await signature(), '', 'the old signature is gone')},
  {name: 'largest', act: async () => sign(dataFile('largest.bin', randomBytes(
    Number(await browser.evaluate(() => document.documentElement.dataset.quorvantMaxFileBytes))))), status: /^largest\.bin is signed\.$/,
  check: () => verify(join(setup.scratch, 'largest.bin'))},
  {name: 'busy', act: () => { stopHost('SIGSTOP'); return sign(contract()); }, until: sending,
   status: /^Signing contract\.txt \(1 KiB\)…$/, controls: noControls,
   check: async () => assert.equal(await signature(), '')},
  {name: 'host-gone', act: () => stopHost('SIGKILL'), controls: closedControls,
   status: /^Signing failed: The signing host stopped: .+ Open your key container again\.$/,
   check: async () => assert.equal(await text('subject'), 'none yet')},
  // Without a host gone, the container is still open.
  {name: 'closed', token: true, act: async () => { if (!pkcs11) await open(); await waitFor(settled); await browser.click('#close'); },
   status: /^The key container is closed\.$/, controls: closedControls},
  {name: 'time-limit', act: async () => {
    await browser.goto(demo.url + '?seconds=2');
    await waitFor(settled);
    await open();
    await waitFor(settled);
    stopHost('SIGSTOP');
    await sign(contract());
  }, status: /^Signing failed: The signing host did not answer within 2 seconds and was stopped\. Open your key container again\.$/,
  controls: closedControls, check: () => stopHost('SIGKILL')},
  {name: 'not-registered', act: async () => {
    await browser.goto(demo.url);
    await waitFor(settled);
    renameSync(browser.hostManifest, browser.hostManifest + '.away');
    await open();
  }, status: /^Opening the key container failed: The signing host is not installed for this browser \(.+\)\.$/,
  controls: closedControls, check: () => renameSync(browser.hostManifest + '.away', browser.hostManifest)},
  {name: 'no-extension', act: async () => {
    await browser.close();
    browser = await launch(setup, {extension: false});
    await browser.goto(demo.url);
  }, status: /^The Quorvant signing extension is not installed or not enabled for this page\. See "Installing the extension"/,
  controls: noControls},
];

before(async () => {
  mkdirSync(shots, {recursive: true});
  setup = prepareHome(build);
  demo = await serveDemo();
  browser = await launch(setup);
  await browser.goto(demo.url);
});

after(async () => {
  if (stopped.length) stopHost('SIGKILL');
  if (browser) await browser.close();
  if (demo) demo.server.close();
  if (setup) rmSync(setup.scratch, {recursive: true, force: true});
});

for (const row of scenarios.filter((row) => row.token || !pkcs11)) {
  test(`${which}: ${row.name}`, async () => {
    if (row.act) await row.act();
    await waitFor(row.until || settled);
    await browser.screenshot(join(shots, `${row.name}.png`));
    assert.match(await text('status'), row.status);
    if (row.controls) assert.deepEqual(await enabled(), row.controls);
    if (row.check) await row.check();
  });
}
