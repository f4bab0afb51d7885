// Click-to-signature in a browser beside the same request sent straight from
// the extension's background to the host and through quorvant_client, and
// the largest file each path carries. Not a test: prints figures.
//
//   [SIZES="MiB ..."] node bench/browser/measure.mjs chromium|firefox speed [RUNS]
//   node bench/browser/measure.mjs chromium|firefox limit
//
// Needs build/release (or QUORVANT_BUILD) and tests/browser's npm packages.
import {execFileSync} from 'node:child_process';
import {writeFileSync} from 'node:fs';
import {randomBytes} from 'node:crypto';
import {join} from 'node:path';
import {prepareHome, serveDemo, removeScratch, repository} from '../../tests/browser/browser_setup.mjs';
import {launchChromium} from '../../tests/browser/chromium_driver.mjs';
import {launchFirefox} from '../../tests/browser/firefox_driver.mjs';

const [which, mode = 'speed', runs = '3'] = process.argv.slice(2);
const build = process.env.QUORVANT_BUILD || join(repository, 'build/release');
const MiB = 1024 * 1024;
const setup = prepareHome(build);
const demo = await serveDemo();
const browser = await (which === 'firefox' ? launchFirefox : launchChromium)(setup);
const settled = () => !document.getElementById('status').textContent.endsWith('…');

async function waitFor(predicate) {
  while (!(await browser.evaluate(predicate))) await new Promise((wake) => setTimeout(wake, 50));
}

// The page: one click on Sign, timed in the page; `read` is when the
// extension had the file in Base64, `sent` when it had passed it to the host.
function clickToSignature() {
  return new Promise((resolve) => {
    const status = document.getElementById('status');
    const start = performance.now();
    const marks = {relay: document.querySelector('iframe') ? 'frame' : 'none'};
    const request = signingClient.request;
    signingClient.request = (data, options = {}) => request(data, Object.assign({}, options, {
      onReading: (part) => { if (part === 1) marks.read = performance.now() - start; options.onReading(part); },
      onSent: () => { marks.sent = performance.now() - start; options.onSent(); },
    }));
    new MutationObserver((changes, observer) => {
      if (status.textContent.endsWith('…')) return;
      observer.disconnect();
      signingClient.request = request;
      resolve({ms: performance.now() - start, status: status.textContent, ...marks});
    }).observe(status, {childList: true, characterData: true, subtree: true});
    document.getElementById('sign').click();
  });
}

// The background: the same request straight to a host of its own.
function straightToHost(bytes) {
  const api = globalThis.browser ?? globalThis.chrome;
  globalThis.benchHost ??= api.runtime.connectNative('com.quorvant.signing_host');
  const port = globalThis.benchHost;
  const contentFile = 'A'.repeat(Math.ceil(bytes / 3) * 4);
  return new Promise((resolve) => {
    const start = performance.now();
    const onAnswer = (answer) => {
      port.onMessage.removeListener(onAnswer);
      resolve({ms: performance.now() - start, result: answer.data.result});
    };
    port.onMessage.addListener(onAnswer);
    port.onDisconnect.addListener(() => resolve({ms: performance.now() - start, result: 'host gone'}));
    port.postMessage({contentId: 'bench', data: {requestAction: 'getSignature', containerName: 'demo', contentFile}});
  });
}

// In the page through the extension, without a file: what the page's client
// carries, with a short time limit.
function throughPage(bytes) {
  const contentFile = 'A'.repeat(Math.ceil(bytes / 3) * 4);
  return signingClient.request({requestAction: 'getSignature', containerName: 'demo', contentFile},
                               {seconds: 30}).then((answer) => answer.result, (error) => error.message);
}

function viaClient(bytes) {
  const request = JSON.stringify({contentId: 'c', data: {requestAction: 'getSignature', containerName: 'demo',
                                  contentFile: Buffer.alloc(bytes).toString('base64')}});
  const start = performance.now();
  const answer = execFileSync(join(setup.installed, 'quorvant_client'), {input: request + '\n', env: setup.env,
                              maxBuffer: 4 * MiB}).toString();
  return {ms: performance.now() - start, result: JSON.parse(answer).data.result};
}

const inBackground = (source, ...args) => browser.worker.evaluate(`(${source})(...${JSON.stringify(args)})`);

async function openDemo() {
  await browser.goto(demo.url);
  await waitFor(settled);
  await browser.evaluate(() => { document.getElementById('container').value = 'demo'; });
  await browser.click('#open');
  await waitFor(settled);
}

try {
  await openDemo();
  const limit = await browser.evaluate(() => signingClient.limit);
  if (mode === 'limit') {
    for (const megabytes of (process.env.SIZES || '40 44 46 47 48').split(' ').map(Number)) {
      const bytes = Math.min(Math.round(megabytes * MiB), 48 * MiB - 1024);
      const outcome = await browser.evaluate(throughPage, bytes);
      console.log(`${which} page, ${bytes} bytes (${(bytes / MiB).toFixed(2)} MiB): ${outcome}`);
      if (outcome !== 'success') await openDemo();
    }
  } else {
    const sizes = [['1 KiB', 1024], ['20 MiB', 20 * MiB], [`${(limit / MiB).toFixed(2)} MiB (limit)`, limit]];
    if (process.env.SIZES) sizes.splice(0, 3, ...process.env.SIZES.split(' ').map(
      (megabytes) => [`${megabytes} MiB`, Math.round(Number(megabytes) * MiB)]));
    for (const [label, bytes] of sizes) {
      for (let run = 0; run < Number(runs); run++) {
        // Marionette reaches no extension page of Firefox without system
        // access; there only the page and quorvant_client are timed.
        if (which === 'chromium') {
          console.log(JSON.stringify({which, label, path: 'background', ...await inBackground(straightToHost, bytes)}));
        }
        console.log(JSON.stringify({which, label, path: 'quorvant_client', ...viaClient(bytes)}));
      }
    }
    await openDemo();
    for (const [label, bytes] of sizes) {
      const file = join(setup.scratch, 'data.bin');
      writeFileSync(file, randomBytes(bytes));
      await browser.setFile('#file', file);
      for (let run = 0; run < Number(runs); run++) {
        console.log(JSON.stringify({which, label, path: 'page', ...await browser.evaluate(clickToSignature)}));
      }
    }
  }
} finally {
  await browser.close();
  demo.server.close();
  removeScratch(setup);
}
