// Debian's headless firefox-esr through Marionette: frames "LENGTH:JSON",
// commands [0, id, name, parameters], answers [1, id, error, result].
import {spawn} from 'node:child_process';
import {existsSync, mkdtempSync, readFileSync, writeFileSync} from 'node:fs';
import {connect} from 'node:net';
import {join} from 'node:path';
import {extensionDir} from './browser_setup.mjs';

const ID = 'signing@quorvant.example';
const UUID = '6f1d0c3e-5a8b-4c2e-9d7f-0b3a1e4c5d6f';  // the extension's address, fixed by a pref

const ELEMENT = 'element-6066-11e4-a52e-4f735466cecf';

function marionette(socket) {
  const waiting = new Map();
  let buffer = Buffer.alloc(0);
  let nextId = 1;
  socket.on('data', (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (let colon; (colon = buffer.indexOf(':')) > 0;) {
      const length = Number(buffer.subarray(0, colon).toString());
      if (buffer.length < colon + 1 + length) break;
      const message = JSON.parse(buffer.subarray(colon + 1, colon + 1 + length).toString());
      buffer = buffer.subarray(colon + 1 + length);
      const [, id, error, result] = Array.isArray(message) ? message : [1, 0, null, message];
      const entry = waiting.get(id);
      if (!entry) continue;
      waiting.delete(id);
      if (error) entry.reject(new Error(`${entry.name}: ${error.error}: ${error.message}`));
      else entry.resolve(result);
    }
  });
  return (name, parameters = {}) => new Promise((resolve, reject) => {
    const id = nextId++;
    waiting.set(id, {name, resolve, reject});
    const body = Buffer.from(JSON.stringify([0, id, name, parameters]));
    socket.write(`${body.length}:`);
    socket.write(body);
  });
}

// Marionette on port 0 takes a free port and writes it into the profile.
async function connectWhenUp(profile, browser) {
  for (let attempt = 0; attempt < 300; attempt++) {
    if (browser.exitCode !== null) throw new Error('firefox-esr exited with ' + browser.exitCode);
    const port = existsSync(join(profile, 'MarionetteActivePort')) &&
        Number(readFileSync(join(profile, 'MarionetteActivePort'), 'utf8'));
    const socket = port && await new Promise((resolve) => {
      const trying = connect(port, '127.0.0.1');
      trying.once('data', () => resolve(trying));  // the server's greeting
      trying.once('error', () => resolve(null));
    });
    if (socket) return socket;
    await new Promise((wake) => setTimeout(wake, 100));
  }
  throw new Error('Marionette did not answer');
}

export async function launchFirefox(setup, {extension = true} = {}) {
  const profile = mkdtempSync(join(setup.scratch, 'firefox-'));
  const prefs = {'marionette.port': 0, 'browser.shell.checkDefaultBrowser': false,
                 'datareporting.policy.dataSubmissionEnabled': false, 'app.update.disabledForTesting': true,
                 'browser.startup.homepage_override.mstone': 'ignore', 'extensions.update.enabled': false,
                 'network.dns.localDomains': 'portal.example,other.example,plain.example',
                 'dom.security.https_first': false,
                 'extensions.webextensions.uuids': JSON.stringify({[ID]: UUID})};
  writeFileSync(join(profile, 'user.js'), Object.entries(prefs).map(
      ([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(''));
  const browser = spawn('firefox-esr', ['--headless', '--marionette', '-remote-allow-system-access', '--no-remote', '--profile', profile],
                        {env: {...setup.env, MOZ_HEADLESS: '1'}, stdio: 'ignore'});
  const send = marionette(await connectWhenUp(profile, browser));
  await send('WebDriver:NewSession', {acceptInsecureCerts: true});  // Marionette takes capabilities flat
  await send('WebDriver:SetTimeouts', {script: 600000});
  const find = async (selector) =>
    (await send('WebDriver:FindElement', {using: 'css selector', value: selector})).value[ELEMENT];
  const main = (await send('WebDriver:GetWindowHandle')).value;
  const actions = {
    goto: (url) => send('WebDriver:Navigate', {url}),
    click: async (selector) => send('WebDriver:ElementClick', {id: await find(selector)}),
    setFile: async (selector, path) => send('WebDriver:ElementSendKeys', {id: await find(selector), text: path}),
    evaluate: async (source, ...args) => (await send('WebDriver:ExecuteScript', {
      script: `return (${source})(...arguments);`, args, sandbox: null})).value,
    screenshot: async (path) => writeFileSync(path, Buffer.from(
        (await send('WebDriver:TakeScreenshot', {full: true, hash: false})).value, 'base64')),
  };
  // A step with Marionette elsewhere (another window, the browser's own code), then back.
  const switched = (there, back) => async (step) => {
    await send(...there);
    try { return await step(); } finally { await send(...back); }
  };
  const inWindow = (handle) => Object.fromEntries(Object.entries(actions).map(([name, action]) => [name, (...args) =>
    switched(['WebDriver:SwitchToWindow', {handle}], ['WebDriver:SwitchToWindow', {handle: main}])(() => action(...args))]));
  const chrome = (script, ...args) => switched(['Marionette:SetContext', {value: 'chrome'}],
    ['Marionette:SetContext', {value: 'content'}])(async () => (await send('WebDriver:ExecuteScript', {script, args})).value);
  // What a person grants when installing a signed .xpi: Firefox gives a
  // temporary add-on its localhost matches but not "https://*/*".
  if (extension) {
    await send('Addon:Install', {path: extensionDir, temporary: true});
    await chrome(`const {ExtensionPermissions} = ChromeUtils.importESModule('resource://gre/modules/ExtensionPermissions.sys.mjs');
      return ExtensionPermissions.add(arguments[0], {permissions: [], origins: ['https://*/*']},
                                      WebExtensionPolicy.getByID(arguments[0]).extension).then(() => true);`, ID);
  }
  // Content may not open extension pages; the browser's own code may.
  const goto = actions.goto;
  actions.goto = (url) => url.startsWith('moz-extension:') ? chrome(`gBrowser.selectedBrowser.fixupAndLoadURIString(arguments[0],
      {triggeringPrincipal: Services.scriptSecurityManager.getSystemPrincipal()}); return true;`, url) : goto(url);
  return {
    ...actions,
    hostManifest: join(setup.home, '.mozilla/native-messaging-hosts/com.quorvant.signing_host.json'),
    extensionUrl: `moz-extension://${UUID}/`,
    window: async (part) => {
      for (let tries = 0; tries < 100; tries++, await new Promise((wake) => setTimeout(wake, 100))) {
        const handles = await send('WebDriver:GetWindowHandles');
        for (const handle of (Array.isArray(handles) ? handles : handles.value).filter((other) => other !== main)) {
          if (String(await inWindow(handle).evaluate(() => location.href).catch(() => '')).includes(part)) return inWindow(handle);
        }
      }
      throw new Error(`no window shows ${part}`);
    },
    close: async () => {
      await send('Marionette:Quit').catch(() => {});
      if (browser.exitCode === null) await new Promise((done) => browser.once('exit', done));
    },
  };
}
