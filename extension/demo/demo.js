// The demo page's flow: open a provider, show the certificate's subject,
// sign the file the user picks and show the signature, close the provider.
(() => {
  const $ = (id) => document.getElementById(id);
  let handle = null;

  function say(text, isError) {
    $('status').textContent = text;
    $('status').className = isError ? 'error' : '';
  }

  function setOpen(open) {
    $('sign').disabled = !open;
    $('close').disabled = !open;
    $('open').disabled = open;
  }

  // The answer's data on success; throws with the host's own words otherwise.
  async function ask(data) {
    const answer = await signingClient.request(data);
    if (answer.result !== 'success') {
      throw new Error(answer.description || 'The signing host reported an unknown error.');
    }
    return answer;
  }

  function fromBase64(text) {
    return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  }

  function readAsBase64(file) {
    return new Promise((resolve, reject) => {
      const reader = new FileReader();
      reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
      reader.onerror = () => reject(new Error('The file could not be read: ' + file.name));
      reader.readAsDataURL(file);
    });
  }

  async function run(step, action) {
    try {
      await action();
    } catch (error) {
      say(step + ' failed: ' + error.message, true);
    }
  }

  $('open').addEventListener('click', () => run('Opening the key container', async () => {
    const containerName = $('container').value.trim();
    say('Opening the key container…');
    const opened = await ask(Object.assign({requestAction: 'openCryptoProvider'},
                                           containerName ? {containerName} : {}));
    handle = opened.handleProvider;
    setOpen(true);
    say('Reading the certificate…');
    const certificate = await ask({requestAction: 'getCertificate', handleProvider: handle});
    $('subject').textContent = certificateSubject(fromBase64(certificate.certificate));
    say('The key container is open. Pick a file to sign.');
  }));

  $('sign').addEventListener('click', () => run('Signing', async () => {
    const file = $('file').files[0];
    if (!file) throw new Error('no file is chosen; pick one first.');
    say('Reading ' + file.name + '…');
    const contentFile = await readAsBase64(file);
    say('Signing ' + file.name + '…');
    const signed = await ask({requestAction: 'getSignature', handleProvider: handle, contentFile});
    $('signature').value = signed.signature;
    say(file.name + ' is signed.');
  }));

  $('close').addEventListener('click', () => run('Closing the key container', async () => {
    say('Closing the key container…');
    const closing = handle;
    handle = null;
    setOpen(false);
    await ask({requestAction: 'closeCryptoProvider', handleProvider: closing});
    $('subject').textContent = 'none yet';
    say('The key container is closed.');
  }));

  signingClient.waitForExtension(3000).then(
      () => say('Ready. Open your key container to begin.'),
      (error) => say(error.message, true));
})();
