// Scaffolding of the end-to-end test: a scratch home with the host installed,
// the demo page's server, the host's processes, OpenSSL's verdict.
import {execFileSync, spawnSync} from 'node:child_process';
import {existsSync, mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {createServer} from 'node:http';
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

