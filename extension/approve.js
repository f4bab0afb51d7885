// The approval window: names the asking site and tells the waiting relay
// (relay.js, askPerson) what the person chose. Closing it is a Deny.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const query = new URLSearchParams(location.search);
  const origin = query.get('origin');
  document.getElementById('origin').textContent = origin;
  document.title = 'Allow ' + origin + ' to sign?';

  async function choose(allow) {
    const remember = document.getElementById('remember').checked;
    if (remember) await quorvantSites.remember(origin, allow);
    await api.runtime.sendMessage({approval: query.get('ask'), allow, remember}).catch(() => {});
    window.close();
  }
  document.getElementById('allow').addEventListener('click', () => choose(true));
  document.getElementById('deny').addEventListener('click', () => choose(false));
  document.getElementById('allow').focus();
})();
