// The demo page's flow: open a provider, show the certificate's subject,
// sign the file the user picks and show the signature, close the provider.
// One step at a time: every control waits while a step runs, each step
// clears the results it replaces, and every step ends in a plain message.
(() => {
  const $ = (id) => document.getElementById(id);
  const MiB = 1024 * 1024;
  // ?seconds=N shortens every request's time limit (for trying failures out).
  const seconds = Number(new URLSearchParams(window.location.search).get('seconds')) || 0;
  let extension = null;
  let handle = null;
  let busy = false;

  function say(text, isError) {
    $('status').textContent = text;
    $('status').className = isError ? 'error' : '';
  }

  function render() {
    const closed = handle === null;
    $('open').disabled = $('container').disabled = busy || !extension || !closed;
    $('file').disabled = busy || !extension;
    $('sign').disabled = busy || closed;
    $('close').disabled = busy || closed;
  }

  function showProgress(phase, fraction) {
    $('progress-box').hidden = phase === null;
    $('phase').textContent = phase || '';
    $('progress').value = fraction;
  }

  function forgetContainer() {
    handle = null;
    $('subject').textContent = 'none yet';
  }

  // The answer's data on success; throws with the host's own words otherwise.
  async function ask(data, options) {
    const answer = await signingClient.request(data, options);
    if (answer.result !== 'success') {
      throw new Error(answer.description || 'The signing host reported an unknown error.');
    }
    return answer;
  }

  function fromBase64(text) {
    return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  }

  // Sizes to one decimal, rounded the way `round` says, so that a file just
  // over a limit never reads as the limit itself.
  function sizeText(bytes, round = Math.ceil) {
    if (bytes < MiB) return round(bytes / 1024) + ' KiB';
    return (round(bytes / MiB * 10) / 10).toFixed(1) + ' MiB';
  }

  async function run(step, action) {
    busy = true;
    render();
    try {
      await action();
    } catch (error) {
      // A host that stopped took the open container with it.
      const lost = error.hostGone && handle !== null;
      if (error.hostGone) forgetContainer();
      say(step + ' failed: ' + error.message + (lost ? ' Open your key container again.' : ''), true);
    } finally {
      busy = false;
      showProgress(null, 0);
      render();
    }
  }

  $('open').addEventListener('click', () => run('Opening the key container', async () => {
    const containerName = $('container').value.trim();
    forgetContainer();
    $('signature').value = '';
    say('Opening the key container…');
    const opened = await ask(Object.assign({requestAction: 'openCryptoProvider'},
                                           containerName ? {containerName} : {}),
                             {seconds: seconds || 120});
    handle = opened.handleProvider;
    say('Reading the certificate…');
    const certificate = await ask({requestAction: 'getCertificate', handleProvider: handle},
                                  {seconds: seconds || 30});
    $('subject').textContent = certificateSubject(fromBase64(certificate.certificate));
    say('The key container is open. Pick a file to sign.');
  }));

  $('sign').addEventListener('click', () => run('Signing', async () => {
    $('signature').value = '';
    const file = $('file').files[0];
    if (!file) throw new Error('no file is chosen; pick one first.');
    if (file.size > extension.maxFileBytes) {
      throw new Error(file.name + ' is ' + sizeText(file.size) + ', more than the ' +
                      sizeText(extension.maxFileBytes, Math.floor) + ' that ' + extension.browser +
                      ' can pass to the signing host. Pick a smaller file.');
    }
    say('Signing ' + file.name + ' (' + sizeText(file.size) + ')…');
    showProgress('Reading the file', 0);
    const signed = await ask({requestAction: 'getSignature', handleProvider: handle}, {
      file,
      seconds: seconds || 120 + Math.ceil(file.size / MiB),
      onReading: (part) => showProgress(part < 1 ? 'Reading the file' : 'Sending it to the signing host', part / 2),
      onSent: () => showProgress('Signing', 3 / 4),
    });
    $('signature').value = signed.signature;
    say(file.name + ' is signed.');
  }));

  $('close').addEventListener('click', () => run('Closing the key container', async () => {
    const closing = handle;
    forgetContainer();
    $('signature').value = '';
    say('Closing the key container…');
    await ask({requestAction: 'closeCryptoProvider', handleProvider: closing}, {seconds: seconds || 30});
    say('The key container is closed.');
  }));

  signingClient.onHostGone((text) => {
    if (handle === null) return;
    forgetContainer();
    render();
    say(text + ' Open your key container again.', true);
  });

  render();
  signingClient.waitForExtension(3000).then(
      (info) => {
        extension = info;
        render();
        say('Ready. Open your key container to begin.');
      },
      (error) => say(error.message, true));
})();
