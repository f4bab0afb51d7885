// Click-to-signature on the demo page in a browser, beside the same file
// signed by quorvant_client --file, in the same run; and the peak resident
// memory of the host and of the browser's extension process after each size.
// Not a test: prints one JSON line per run.
//
//   [SIZES="1KiB 20 48 100 limit"] node bench/browser/measure.mjs chromium|firefox [RUNS]
//
// SIZES are MiB unless they end in KiB; "limit" is the host's largest file.
// Needs build/release (or QUORVANT_BUILD) and tests/browser's npm packages.
import {execFileSync} from 'node:child_process';
import {closeSync, openSync, readFileSync, readdirSync, rmSync, writeSync} from 'node:fs';
import {randomBytes} from 'node:crypto';
import {join} from 'node:path';
import {prepareHome, serveDemo, repository, hostProcesses} from '../../tests/browser/browser_setup.mjs';
import {launchChromium} from '../../tests/browser/chromium_driver.mjs';
import {launchFirefox} from '../../tests/browser/firefox_driver.mjs';

const [which = 'chromium', runs = '3'] = process.argv.slice(2);
const build = process.env.QUORVANT_BUILD || join(repository, 'build/release');
const MiB = 1024 * 1024;
const setup = prepareHome(build);
const demo = await serveDemo();
const browser = await (which === 'firefox' ? launchFirefox : launchChromium)(setup);
const settled = () => !document.getElementById('status').textContent.endsWith('…');

async function waitFor(predicate) {
  while (!(await browser.evaluate(predicate))) await new Promise((wake) => setTimeout(wake, 50));
}

// One click on Sign, timed in the page until the status settles.
function clickToSignature() {
  return new Promise((resolve) => {
    const status = document.getElementById('status');
    const start = performance.now();
    new MutationObserver((changes, observer) => {
      if (status.textContent.endsWith('…')) return;
      observer.disconnect();
      resolve({ms: Math.round(performance.now() - start), status: status.textContent});
    }).observe(status, {childList: true, characterData: true, subtree: true});
    document.getElementById('sign').click();
  });
}

function viaClient(path) {
  const start = performance.now();
  const result = execFileSync(join(setup.installed, 'quorvant_client'), [
    '--file', path, '--member', 'result', '{"data":{"requestAction":"getSignature","containerName":"demo"}}'],
  {env: setup.env}).toString().trim();
  return {ms: Math.round(performance.now() - start), result};
}

// Peak resident set (VmHWM) in MiB of the first process `matches` takes.
function peakMiB(matches) {
  for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name)).map(Number).filter(matches)) {
    try {
      return Math.round(Number(/VmHWM:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]) / 1024);
    } catch (gone) {
      // the process ended while we looked
    }
  }
  return null;
}
// Chromium's relay frame lives in the extension's renderer of this profile;
// Firefox runs extensions in a content process of type "extension".
const extensionPids = async () => which === 'firefox' ?
  browser.chrome('return ChromeUtils.requestProcInfo().then((info) => info.children.filter((child) => ' +
                 'child.type === "extension").map((child) => child.pid));') :
  readdirSync('/proc').filter((pid) => /^\d+$/.test(pid) && (() => {
    try {
      const args = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      return args.includes('--extension-process') && args.includes(setup.scratch);
    } catch (gone) {
      return false;
    }
  })()).map(Number);

function writeRandom(path, bytes) {
  const file = openSync(path, 'w');
  for (let at = 0; at < bytes; at += 16 * MiB) writeSync(file, randomBytes(Math.min(16 * MiB, bytes - at)));
  closeSync(file);
}

try {
  await browser.goto(demo.url);
  await waitFor(settled);
  await browser.evaluate(() => { document.getElementById('container').value = 'demo'; });
  await browser.click('#open');
  await (await browser.window('approve.html')).click('#allow');
  await waitFor(settled);
  const limit = Number(await browser.evaluate(() => document.documentElement.dataset.quorvantMaxFileBytes));
  const sizes = (process.env.SIZES || '1KiB 20 48 100 limit').split(' ').map((size) =>
    [size === 'limit' ? 'limit' : size.endsWith('KiB') ? size : size + ' MiB',
     size === 'limit' ? limit : size.endsWith('KiB') ? parseFloat(size) * 1024 : Math.round(parseFloat(size) * MiB)]);
  const file = join(setup.scratch, 'data.bin');
  for (const [label, bytes] of sizes) {
    writeRandom(file, bytes);
    await browser.setFile('#file', file);
    for (let run = 0; run < Number(runs); run++) {
      console.log(JSON.stringify({which, label, bytes, path: 'quorvant_client', ...viaClient(file)}));
      console.log(JSON.stringify({which, label, bytes, path: 'page', ...await browser.evaluate(clickToSignature)}));
    }
    const [hosts, extension] = [hostProcesses(setup), await extensionPids()];
    console.log(JSON.stringify({which, label, peakMiB: {host: peakMiB((pid) => hosts.includes(pid)),
                                                        extension: peakMiB((pid) => extension.includes(pid))}}));
  }
} finally {
  await browser.close();
  demo.server.close();
  rmSync(setup.scratch, {recursive: true, force: true});
}
