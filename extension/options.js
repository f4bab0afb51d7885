// The options page: the remembered sites, each with Forget, and the
// administrator's policy as it stands (read only).
(() => {
  const api = globalThis.browser ?? globalThis.chrome;

  async function show() {
    const sites = await quorvantSites.remembered();
    const rows = Object.keys(sites).sort().map((origin) => {
      const row = document.createElement('tr');
      const name = row.insertCell();
      name.textContent = origin;
      name.className = 'origin-cell';
      row.insertCell().textContent = sites[origin] ? 'Allowed' : 'Denied';
      const forget = document.createElement('button');
      forget.type = 'button';
      forget.textContent = 'Forget';
      forget.dataset.origin = origin;
      forget.addEventListener('click', () => quorvantSites.forget(origin));
      row.insertCell().append(forget);
      return row;
    });
    document.querySelector('#sites tbody').replaceChildren(...rows);
    document.getElementById('none').hidden = rows.length > 0;

    const policy = await quorvantSites.policy();
    const lines = [];
    if (Array.isArray(policy.allowedOrigins)) lines.push('Always allowed: ' + policy.allowedOrigins.join(', '));
    if (Array.isArray(policy.blockedOrigins)) lines.push('Never allowed: ' + policy.blockedOrigins.join(', '));
    if (policy.askForOtherSites === false) lines.push('Other sites are not allowed and you are not asked.');
    document.getElementById('policy-text').textContent = lines.join('. ');
    document.getElementById('policy').hidden = lines.length === 0;
  }

  api.storage.onChanged.addListener((changes, area) => { if (area === 'local' && changes.sites) show(); });
  show();
})();
