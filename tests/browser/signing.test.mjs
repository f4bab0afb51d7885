// The demo page in headless Chromium or Firefox (QUORVANT_BROWSER) with the
// software token, or the PKCS#11 one of 35-pkcs11.sh (QUORVANT_TEST_TOKEN):
// a table of what a person does and sees, each signature judged by OpenSSL.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {mkdirSync, readFileSync, renameSync, rmSync, truncateSync, writeFileSync} from 'node:fs';
import {randomBytes} from 'node:crypto';
import {join} from 'node:path';
import {prepareHome, serveDemo, serveSite, systemPolicy, opensslVerify, repository, hostProcesses} from './browser_setup.mjs';
import {launchChromium} from './chromium_driver.mjs';
import {launchFirefox} from './firefox_driver.mjs';

const build = process.env.QUORVANT_BUILD || join(repository, 'build/release');
const which = process.env.QUORVANT_BROWSER || 'chromium';
const launch = {chromium: launchChromium, firefox: launchFirefox}[which];
const pkcs11 = process.env.QUORVANT_TEST_TOKEN === 'pkcs11';
const container = pkcs11 ? 'T1/ec' : 'demo';
const shots = join(build, 'browser-screenshots', which + (pkcs11 ? '-pkcs11' : ''));
let setup, demo, site, browser, stopped = [], dropPolicy = null;

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

// A site's page (sitePage) at `path` sends `data` (a frame its own request)
// with `file`, cancelled after a part for the outcome 'cancelled'; `choice`
// answers the approval window, which names `origin`; without one nobody is
// asked. The last word is `outcome` (a result or a failure code); denied and
// refused requests start no host. Returns all said about the request.
let lastId = 0;
async function onSite({path = '', id = `r${++lastId}`, data = {requestAction: 'getCertificate', containerName: container},
                       file, choice, remember = true, origin = 'portal', outcome}) {
  await browser.goto(site.url + path);
  const before = hostProcesses(setup);
  if (file) await browser.setFile('#file', join(setup.scratch, file));
  if (!path) {
    await browser.evaluate(async (request, withFile, cancel) => {
      const port = await window.port;
      port.postMessage({request, file: withFile ? document.getElementById('file').files[0] : undefined});
      if (cancel) port.addEventListener('message', ({data}) => data.progress && port.postMessage({cancel: data.progress}));
    }, {contentId: id, data}, !!file, outcome === 'cancelled');
  }
  if (choice) {
    const window = await browser.window('approve.html');
    await window.screenshot(join(shots, `approval-${origin}.png`));
    assert.equal(await window.evaluate(() => document.getElementById('origin').textContent), siteOrigin(origin));
    if (!remember) await window.click('#remember');
    await window.click('#' + choice);
  }
  await waitFor(`() => heard.some((message) => message.failure || (message.answer || {}).contentId === '${id}')`);
  const said = (await browser.evaluate(() => window.heard)).filter((message) => [message.contentId, message.asking,
      message.sent, message.progress, message.answer && message.answer.contentId].includes(id));
  assert.equal(said.some((message) => message.asking !== undefined), Boolean(choice), 'asked only with a window');
  const last = said.at(-1);
  assert.equal(last.failure ? last.code : last.answer.data.result, outcome, last.failure || last.answer.data.description);
  if (outcome === 'denied' || outcome === 'refused') assert.deepEqual(hostProcesses(setup).filter((pid) => !before.includes(pid)), [], 'no host');
  return said;
}
const siteOrigin = (name) => new URL(site.url).origin.replace('portal', name);
const answer = (said) => said.at(-1).answer.data;
async function relaunch(policy) {
  await browser.close();
  dropPolicy = await systemPolicy(policy);
  browser = await launch(setup);
}

const contract = () => dataFile('contract.txt', 'Contract Nr. 7\u00e9\nsigned in the browser\n');
const closedControls = {open: true, container: true, file: true, sign: false, close: false};
const openControls = {open: false, container: false, file: true, sign: true, close: true};
const noControls = {open: false, container: false, file: false, sign: false, close: false};

// Each row: act, status, usable controls, check; `token` rows also run with
// PKCS#11, whose session asks for the PIN once.
const scenarios = [
  {name: 'ready', token: true, status: /^Ready\. Open your key container to begin\.$/, controls: closedControls},
  {name: 'opened', token: true, act: async () => { await open(); await (await browser.window('approve.html')).click('#allow'); }, status: /^The key container is open\./,
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
  {name: '100-mib', act: () => sign(dataFile('large.bin', randomBytes(100 * 1024 * 1024))),
   status: /^large\.bin is signed\.$/, check: () => verify(join(setup.scratch, 'large.bin'))},
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
  // Sites: the person decides, a page never names paths, the administrator overrides.
  {name: 'site-asks', site: {data: {requestAction: 'getSignature', containerName: container}, choice: 'allow',
                             file: 'site.bin', outcome: 'success'},
   act: () => dataFile('site.bin', randomBytes(900 * 1024)), check: (said) => {
     assert.deepEqual(said.filter((message) => message.progress).map((message) => [message.sentBytes, message.totalBytes]),
                      [[393216, 921600], [786432, 921600], [921600, 921600]]);
     site.signature = answer(said).signature;
   }},
  {name: 'site-remembered', site: {outcome: 'success'}, check: (said) =>
    assert.ok(opensslVerify(setup.scratch, site.signature, answer(said).certificate, join(setup.scratch, 'site.bin')))},
  {name: 'site-forgotten', act: async () => {
    await browser.goto(browser.extensionUrl + 'options.html');
    await browser.screenshot(join(shots, 'options.png'));
    await browser.click(`button[data-origin="${siteOrigin('portal')}"]`);
  }, site: {choice: 'deny', remember: false, outcome: 'denied'}},
  ...['fileDataPath', 'workingDirectory'].map((member) => ({name: `site-names-${member}`, site: {outcome: 'refused',
    data: {requestAction: 'getSignature', containerName: container, [member]: '/tmp'}}})),
  {name: 'site-frame', site: {path: 'with-frame', id: 'frame', choice: 'deny', remember: false, origin: 'other', outcome: 'denied'}},
  {name: 'plain-http', act: async () => {  // the content script would mark the page at once
    await browser.goto(demo.url.replace('127.0.0.1', 'plain.example'));
    assert.equal(await browser.evaluate(() => document.documentElement.dataset.quorvantExtension || 'none'), 'none');
  }},
  {name: 'no-extension', act: async () => {
    await browser.close();
    browser = await launch(setup, {extension: false});
    await browser.goto(demo.url);
  }, status: /^The Quorvant signing extension is not installed or not enabled for this page\. See "Installing the extension"/,
  controls: noControls},
  {name: 'policy-allowed', act: () => relaunch({allowedOrigins: [siteOrigin('portal')], blockedOrigins: [siteOrigin('other')]}),
   site: {outcome: 'success'}},
  {name: 'policy-allowed-cancel', site: {data: {requestAction: 'getSignature', containerName: container},
                                         file: 'large.bin', outcome: 'cancelled'}},
  {name: 'policy-blocked', site: {path: 'with-frame', id: 'frame', outcome: 'denied'}},
];

before(async () => {
  mkdirSync(shots, {recursive: true});
  setup = prepareHome(build);
  demo = await serveDemo();
  site = await serveSite(setup);
  browser = await launch(setup);
  await browser.goto(demo.url);
});

after(async () => {
  if (stopped.length) stopHost('SIGKILL');
  if (browser) await browser.close();
  if (dropPolicy) await dropPolicy();
  if (demo) demo.server.close();
  if (site) site.server.close();
  if (setup) rmSync(setup.scratch, {recursive: true, force: true});
});

for (const row of scenarios.filter((row) => row.token || !pkcs11)) {
  test(`${which}: ${row.name}`, async () => {
    if (row.act) await row.act();
    const said = row.site && await onSite(row.site);
    if (row.status) {
      await waitFor(row.until || settled);
      await browser.screenshot(join(shots, `${row.name}.png`));
      assert.match(await text('status'), row.status);
    }
    if (row.controls) assert.deepEqual(await enabled(), row.controls);
    if (row.check) await row.check(said);
  });
}
