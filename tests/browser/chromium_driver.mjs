// Debian's headless Chromium through playwright-core (given the browser's
// path it downloads nothing); register.sh --profile puts the manifest.
import {execFileSync} from 'node:child_process';
import {mkdtempSync} from 'node:fs';
import {join} from 'node:path';
import {chromium} from 'playwright-core';
import {repository, extensionDir} from './browser_setup.mjs';

export async function launchChromium(setup, {extension = true} = {}) {
  const userData = mkdtempSync(join(setup.scratch, 'chromium-'));
  execFileSync(join(repository, 'packaging/linux/register.sh'),
               ['install', '--build', setup.build, '--token', setup.token, '--profile', userData], {env: setup.env});
  const context = await chromium.launchPersistentContext(userData, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    env: setup.env,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--host-resolver-rules=MAP *.example 127.0.0.1', `--ignore-certificate-errors-spki-list=${setup.spki}`,
           ...(extension ? [`--disable-extensions-except=${extensionDir}`,
                            `--load-extension=${extensionDir}`] : [])],
  });
  // The extension is ready once its service worker runs.
  if (extension && !context.serviceWorkers().length) await context.waitForEvent('serviceworker');
  const drive = (page) => ({
    goto: (url) => page.goto(url),
    click: (selector) => page.click(selector, {timeout: 5000}),
    setFile: (selector, path) => page.setInputFiles(selector, path),
    evaluate: (source, ...args) => page.evaluate(`(${source})(...${JSON.stringify(args)})`),
    screenshot: (path) => page.screenshot({path, fullPage: true}),
  });
  return {
    ...drive(await context.newPage()),
    hostManifest: join(userData, 'NativeMessagingHosts/com.quorvant.signing_host.json'),
    extensionUrl: extension && new URL('/', context.serviceWorkers()[0].url()).href,
    // The window or tab whose address holds `part` (an extension's window too), once it is there.
    window: async (part) => {
      for (let tries = 0; tries < 100 && !context.pages().some((page) => page.url().includes(part)); tries++) {
        await new Promise((wake) => setTimeout(wake, 100));
      }
      return drive(context.pages().find((page) => page.url().includes(part)));
    },
    close: () => context.close(),
  };
}
