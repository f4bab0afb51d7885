// The demo page, written as a site would with @quorvant/signing: open a key
// container, show its certificate's subject, sign the file the person picks
// (with progress and Cancel), close the container.
// One step at a time: every control waits while a step runs, each step
// clears the results it replaces, and every step ends in a plain message.
import {connect} from '@quorvant/signing';
import {certificateSubject} from './certificate_subject.js';

const $ = (id) => document.getElementById(id);
const MiB = 1024 * 1024;
// ?seconds=N shortens every request's time limit (for trying failures out).
const seconds = Number(new URLSearchParams(window.location.search).get('seconds')) || 0;
// What the person can do about a failure, by its code.
const ADVICE = {'too-large': ' Pick a smaller file.'};
let signer = null;
let session = null;
let signing = null;  // the AbortController of the signature under way
let busy = false;

function say(text, isError) {
  $('status').textContent = text;
  $('status').className = isError ? 'error' : '';
}

function render() {
  const closed = session === null;
  $('open').disabled = $('container').disabled = busy || !signer || !closed;
  $('file').disabled = busy || !signer;
  $('sign').disabled = busy || closed;
  $('close').disabled = busy || closed;
  $('cancel').disabled = signing === null;
}

function showProgress(phase, fraction) {
  $('progress-box').hidden = phase === null;
  $('phase').textContent = phase || '';
  $('progress').value = fraction;
}

function forgetContainer() {
  session = null;
  $('subject').textContent = 'none yet';
  $('certificate').value = '';
}

function toBase64(bytes) {
  if (bytes.toBase64) return bytes.toBase64();
  let binary = '';
  for (const byte of bytes) binary += String.fromCharCode(byte);
  return btoa(binary);
}

function sizeText(bytes) {
  return bytes < MiB ? Math.ceil(bytes / 1024) + ' KiB' : (Math.ceil(bytes / MiB * 10) / 10).toFixed(1) + ' MiB';
}

async function run(step, action) {
  busy = true;
  render();
  try {
    await action();
  } catch (error) {
    // A host that stopped, or was stopped at the time limit, took the open container with it.
    const lost = session !== null && session.closed;
    if (lost) forgetContainer();
    if (error.code === 'cancelled') say(step + ' was cancelled.');
    else say(step + ' failed: ' + error.message + (ADVICE[error.code] || '') + (lost ? ' Open your key container again.' : ''), true);
  } finally {
    busy = false;
    signing = null;
    showProgress(null, 0);
    render();
  }
}

$('open').addEventListener('click', () => run('Opening the key container', async () => {
  forgetContainer();
  $('signature').value = '';
  say('Opening the key container…');
  session = await signer.open($('container').value.trim());
  say('Reading the certificate…');
  const certificate = await session.certificate();
  $('certificate').value = toBase64(certificate);
  $('subject').textContent = certificateSubject(certificate);
  say('The key container is open. Pick a file to sign.');
}));

$('sign').addEventListener('click', () => run('Signing', async () => {
  $('signature').value = '';
  const file = $('file').files[0];
  if (!file) throw new Error('no file is chosen; pick one first.');
  say('Signing ' + file.name + ' (' + sizeText(file.size) + ')…');
  showProgress('Sending the file to the signing host', 0);
  signing = new AbortController();
  render();
  const signature = await session.sign(file, {
    signal: signing.signal,
    onProgress: ({sentBytes, totalBytes}) => showProgress(
        sentBytes < totalBytes ? 'Sending the file to the signing host' : 'Signing', sentBytes / (totalBytes || 1)),
  });
  $('signature').value = toBase64(signature);
  say(file.name + ' is signed.');
}));

$('cancel').addEventListener('click', () => signing && signing.abort());

$('close').addEventListener('click', () => run('Closing the key container', async () => {
  const closing = session;
  forgetContainer();
  $('signature').value = '';
  say('Closing the key container…');
  await closing.close();
  say('The key container is closed.');
}));

render();
connect({
  timeout: seconds ? seconds * 1000 : undefined,
  onAsking: (asking) => { $('asking').hidden = !asking; },
  onHostStopped: (error) => {
    if (session === null) return;
    forgetContainer();
    render();
    say(error.message + ' Open your key container again.', true);
  },
}).then((connected) => {
  signer = connected;
  render();
  say('Ready. Open your key container to begin.');
}, (error) => say(error.message, true));
