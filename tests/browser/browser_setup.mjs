// Scaffolding of the end-to-end test: a scratch home with the host installed,
// the demo page's server, the host's processes, OpenSSL's verdict.
import {execFileSync, spawn, spawnSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {once} from 'node:events';
import {existsSync, mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {createServer} from 'node:http';
import {createServer as createHttpsServer} from 'node:https';
import {tmpdir} from 'node:os';
import {join, resolve, dirname} from 'node:path';
import {fileURLToPath} from 'node:url';

export const repository = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const extensionDir = join(repository, 'extension');

// Installs the host for a scratch user and makes the container "demo".
export function prepareHome(build) {
  const scratch = mkdtempSync(join(tmpdir(), 'quorvant-browser-'));
  const home = join(scratch, 'home');
  mkdirSync(home);
  const env = {...process.env, HOME: home, XDG_CONFIG_HOME: '', XDG_DATA_HOME: ''};
  delete env.QUORVANT_TOKEN_STORE;
  const token = process.env.QUORVANT_TEST_TOKEN || 'software';
  execFileSync(join(repository, 'packaging/linux/register.sh'),
               ['install', '--build', build, '--token', token], {env, stdio: 'inherit'});
  const installed = join(home, '.local/lib/quorvant');
  if (token === 'software') {
    execFileSync(join(installed, 'quorvant_token'),
                 ['create', 'demo', '--no-passphrase', '--no-confirm', '--subject', '/CN=demo/O=Quorvant test'],
                 {env, stdio: 'inherit'});
  }
  return {scratch, home, env, installed, build, token};
}

// The demo page, with the page library under node_modules/ as `npm pack` makes it (what a site installs).
export async function serveDemo() {
  const scratch = mkdtempSync(join(tmpdir(), 'quorvant-demo-'));
  process.on('exit', () => rmSync(scratch, {recursive: true, force: true}));
  const [{filename}] = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', scratch, join(repository, 'page_library')]));
  execFileSync('tar', ['-xzf', join(scratch, filename), '-C', scratch]);
  const types = {html: 'text/html', js: 'text/javascript', css: 'text/css'};
  const server = createServer((request, response) => {
    const [, library, name] = /^\/(node_modules\/@quorvant\/signing\/)?([a-z_]+\.(html|js|css))$/.exec(
        request.url.split('?')[0].replace(/\/$/, '/index.html')) || [];
    const path = name && join(library ? join(scratch, 'package') : join(extensionDir, 'demo'), name);
    if (!path || !existsSync(path)) return response.writeHead(404).end();
    response.writeHead(200, {'content-type': types[name.split('.').pop()] + '; charset=utf-8'});
    response.end(readFileSync(path));
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return {server, url: `http://127.0.0.1:${server.address().port}/`};
}

// A page of a site, as the extension's protocol sees it: `heard` collects
// what the extension says (and what a frame of it passes up), `port` is the
// page's end once connected. /frame is that page as a frame that asks for a
// certificate at once.
const sitePage = (frame) => `<!DOCTYPE html><meta charset="utf-8"><title>Portal</title>
<input type="file" id="file"><script>
window.heard = [];
window.port = new Promise((resolve) => {
  addEventListener('message', (event) => {
    if (event.source !== window && event.data && event.data.heard) heard.push(event.data.heard);
    if (event.source !== window || !event.data || event.data.channel !== 'quorvant-port') return;
    event.ports[0].onmessage = ({data}) => ${frame ? "parent.postMessage({heard: data}, '*')" : 'heard.push(data)'};
    resolve(event.ports[0]);
  });
  postMessage({channel: 'quorvant-connect'}, location.origin);
});
${frame ? "port.then((p) => p.postMessage({request: {contentId: 'frame', data: {requestAction: 'getCertificate'}}}));" : ''}
</script>`;

// https://portal.example:PORT/ (and other.example, which the browsers map to
// 127.0.0.1) with a certificate of its own that the test browsers trust:
// setup.spki is its key's hash for Chromium; Firefox accepts it by session.
export async function serveSite(setup) {
  const key = join(setup.scratch, 'site.key');
  const cert = join(setup.scratch, 'site.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj', '/CN=portal.example',
                           '-addext', 'subjectAltName=DNS:portal.example,DNS:other.example', '-keyout', key, '-out', cert],
               {stdio: 'ignore'});
  const spki = execFileSync('openssl', ['x509', '-in', cert, '-pubkey', '-noout']).toString();
  setup.spki = createHash('sha256').update(Buffer.from(spki.replace(/-----[^-]+-----|\s/g, ''), 'base64')).digest('base64');
  const server = createHttpsServer({key: readFileSync(key), cert: readFileSync(cert)}, (request, response) => {
    const path = new URL(request.url, 'https://x').pathname;
    response.writeHead(200, {'content-type': 'text/html; charset=utf-8'});
    response.end(path === '/frame' ? sitePage(true) : sitePage(false) +
      (path === '/with-frame' ? `<iframe src="https://other.example:${server.address().port}/frame"></iframe>` : ''));
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return {server, url: `https://portal.example:${server.address().port}/`};
}

// The extension's managed policy for both browsers, in the machine's policy
// folders for as long as a child holds the lock other tests take for system
// files; the returned function removes both and releases it.
export async function systemPolicy(policy) {
  const chromium = '/etc/chromium/policies/managed/quorvant-extension-test.json';
  const firefox = '/etc/firefox/policies/policies.json';
  const script = `set -e; [ ! -e ${firefox} ]; trap 'rm -f ${chromium} ${firefox}' EXIT
    mkdir -p ${dirname(chromium)} ${dirname(firefox)}; printf %s "$1" > ${chromium}; printf %s "$2" > ${firefox}
    echo ready; read -r _ || true`;
  const holder = spawn('flock', ['/tmp/quorvant-system.lock', 'bash', '-c', script, 'policy',
                                 JSON.stringify({'3rdparty': {extensions: {[chromiumId]: policy}}}),
                                 JSON.stringify({policies: {'3rdparty': {Extensions: {'signing@quorvant.example': policy}}}})],
                       {stdio: ['pipe', 'pipe', 'inherit']});
  const [ready] = await Promise.race([once(holder.stdout, 'data'), once(holder, 'exit')]);
  if (!String(ready).startsWith('ready')) throw new Error('the policy files could not be written');
  return async () => {
    holder.stdin.end();
    if (holder.exitCode === null) await once(holder, 'exit');
  };
}
const chromiumId = 'ingogkpkbkiidmpbpalbgoiidmfhibjn';

// The running hosts of this home: pidof matches the program's full path, not only its name.
export function hostProcesses(setup) {
  const found = spawnSync('pidof', [join(setup.installed, 'quorvant_host')], {encoding: 'utf8'});
  return found.stdout.split(/\s+/).filter(Boolean).map(Number);
}

// OpenSSL's verdict on a signature of the file `data`, it and the certificate DER in Base64.
export function opensslVerify(scratch, signature, certificate, data) {
  const signatureFile = join(scratch, 'signature.der');
  const pem = join(scratch, 'certificate.pem');
  writeFileSync(signatureFile, Buffer.from(signature, 'base64'));
  writeFileSync(pem, `-----BEGIN CERTIFICATE-----\n${certificate.match(/.{1,64}/g).join('\n')}\n-----END CERTIFICATE-----\n`);
  const verify = spawnSync('openssl', ['cms', '-verify', '-binary', '-inform', 'DER', '-in', signatureFile,
                                       '-content', data, '-CAfile', pem, '-out', '/dev/null']);
  return verify.status === 0;
}

