// Scaffolding of the end-to-end test: a scratch home with the host installed,
// the demo page's server, the host's processes, OpenSSL's verdict.
import {execFileSync, spawn, spawnSync} from 'node:child_process';
import {createHash, X509Certificate} from 'node:crypto';
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
// what the extension says, `port` is the page's end once connected. /frame
// is a frame that asks for a certificate at once and passes up what it hears.
const sitePage = (frame) => `<!DOCTYPE html><meta charset="utf-8"><title>Portal</title><input type="file" id="file"><script>
window.heard = ${frame ? "{push: (said) => parent.postMessage({heard: said}, '*')}" : '[]'};
window.port = new Promise((resolve) => {
  addEventListener('message', ({source, data, ports}) => {
    if (data && data.heard) heard.push(data.heard);
    if (source === window && data && data.channel === 'quorvant-port') resolve(ports[0]);
  });
  postMessage({channel: 'quorvant-connect'}, location.origin);
}).then((port) => Object.assign(port, {onmessage: ({data}) => heard.push(data)}));
${frame ? "port.then((p) => p.postMessage({request: {contentId: 'frame', data: {requestAction: 'getCertificate'}}}));" : ''}
</script>`;

// https://portal.example:PORT/ (and other.example; the browsers map both to
// 127.0.0.1) with a certificate made for the run that the test browsers
// trust: Chromium by its key's hash, setup.spki; Firefox by the session.
export async function serveSite(setup) {
  const [key, cert] = [join(setup.scratch, 'site.key'), join(setup.scratch, 'site.pem')];
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj', '/CN=portal.example',
                           '-addext', 'subjectAltName=DNS:portal.example,DNS:other.example', '-keyout', key, '-out', cert],
               {stdio: 'ignore'});
  setup.spki = createHash('sha256').update(new X509Certificate(readFileSync(cert)).publicKey.export(
      {type: 'spki', format: 'der'})).digest('base64');
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
// folders while a child holds the lock of tests that write system files; the
// function it returns removes both and releases the lock.
export async function systemPolicy(policy) {
  const files = ['/etc/chromium/policies/managed/quorvant-extension-test.json', '/etc/firefox/policies/policies.json'];
  const holder = spawn('flock', ['/tmp/quorvant-system.lock', 'bash', '-c', `set -e; [ ! -e ${files[1]} ]
    trap 'rm -f ${files.join(' ')}' EXIT; mkdir -p ${files.map(dirname).join(' ')}
    printf %s "$1" > ${files[0]}; printf %s "$2" > ${files[1]}; echo; read -r _ || true`, 'policy',
  JSON.stringify({'3rdparty': {extensions: {ingogkpkbkiidmpbpalbgoiidmfhibjn: policy}}}),
  JSON.stringify({policies: {'3rdparty': {Extensions: {'signing@quorvant.example': policy}}}})], {stdio: ['pipe', 'pipe', 'inherit']});
  if (!await Promise.race([once(holder.stdout, 'data'), once(holder, 'exit').then(() => false)])) throw new Error('no policy files');
  return async () => {
    holder.stdin.end();
    if (holder.exitCode === null) await once(holder, 'exit');
  };
}

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

