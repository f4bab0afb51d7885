// Which sites may use the signing host. The administrator's managed policy
// comes first (allowedOrigins, blockedOrigins, askForOtherSites), then what
// the person decided with "remember for this site" (local storage: origin ->
// true for Allow, false for Deny). Only https pages and http pages on
// localhost or 127.0.0.1 (development) are ever served.
const quorvantSites = (() => {
  const api = globalThis.browser ?? globalThis.chrome;

  function isServable(origin) {
    try {
      const url = new URL(origin);
      return url.origin === origin &&
          (url.protocol === 'https:' || (url.protocol === 'http:' && ['localhost', '127.0.0.1'].includes(url.hostname)));
    } catch (notAnOrigin) {
      return false;
    }
  }

  // An entry is an origin, or "https://*.example.com" for every subdomain.
  function isListed(list, origin) {
    return Array.isArray(list) && list.some((entry) => {
      if (entry === origin) return true;
      const wildcard = /^(https?:\/\/)\*(\.[^/*]+)$/.exec(String(entry));
      return wildcard !== null && origin.startsWith(wildcard[1]) && origin.endsWith(wildcard[2]);
    });
  }

  // Firefox rejects when no policy names the extension.
  async function policy() {
    try {
      return await api.storage.managed.get(null) || {};
    } catch (noPolicy) {
      return {};
    }
  }

  async function remembered() {
    return (await api.storage.local.get('sites')).sites || {};
  }

  // 'allowed', 'blocked' (by the administrator), 'denied' (remembered) or 'ask'.
  async function decide(origin) {
    if (!isServable(origin)) return 'blocked';
    const rules = await policy();
    if (isListed(rules.blockedOrigins, origin)) return 'blocked';
    if (isListed(rules.allowedOrigins, origin)) return 'allowed';
    if (rules.askForOtherSites === false) return 'blocked';
    const decision = (await remembered())[origin];
    if (decision === undefined) return 'ask';
    return decision ? 'allowed' : 'denied';
  }

  async function remember(origin, allow) {
    const sites = await remembered();
    sites[origin] = allow;
    await api.storage.local.set({sites});
  }

  async function forget(origin) {
    const sites = await remembered();
    delete sites[origin];
    await api.storage.local.set({sites});
  }

  return {decide, policy, remembered, remember, forget, isServable};
})();
