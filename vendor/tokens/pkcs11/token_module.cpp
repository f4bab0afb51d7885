#include "vendor/tokens/pkcs11/token_module.h"

#include <openssl/err.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vendor/consent/pinentry.h"
#include "vendor/tokens/pkcs11/module_config.h"
#include "vendor/tokens/token_status.h"

namespace tokens::pkcs11 {
namespace {

// PKCS#11 return values the library tells apart.
constexpr unsigned long kDeviceError = 0x30;
constexpr unsigned long kDeviceRemoved = 0x32;
constexpr unsigned long kFunctionCancelled = 0x50;
constexpr unsigned long kPinIncorrect = 0xA0;
constexpr unsigned long kPinInvalid = 0xA1;
constexpr unsigned long kPinLengthRange = 0xA2;
constexpr unsigned long kPinLockedValue = 0xA4;
constexpr unsigned long kSessionClosed = 0xB0;
constexpr unsigned long kSessionHandleInvalid = 0xB3;
constexpr unsigned long kTokenNotPresent = 0xE0;

std::string baseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The PKCS#11 return value libp11 left on OpenSSL's error queue (0 when
// none); the queue is emptied.
unsigned long takeTokenReturnValue() {
  unsigned long value = 0;
  int library = ERR_get_CKR_code();
  while (unsigned long code = ERR_get_error()) {
    if (ERR_GET_LIB(code) == library) value = ERR_GET_REASON(code);
  }
  return value;
}

std::string quoted(const TokenKey& key) { return "\"" + key.token + "/" + key.label + "\""; }

std::uint32_t tokenFailure(const TokenKey& key, const PKCS11_TOKEN* token) {
  unsigned long value = takeTokenReturnValue();
  switch (value) {
    case kPinIncorrect:
    case kPinInvalid:
    case kPinLengthRange:
      return failWith(kWrongPin, "the token did not accept it" +
                                     std::string(token == nullptr         ? ""
                                                 : token->userPinFinalTry ? "; one try is left"
                                                 : token->userPinCountLow ? "; few tries are left"
                                                                          : ""));
    case kPinLockedValue:
      return failWith(kPinLocked, "token \"" + key.token + "\"");
    case kFunctionCancelled:
      return failWith(kCancelled);
    case kDeviceError:
    case kDeviceRemoved:
    case kSessionClosed:
    case kSessionHandleInvalid:
    case kTokenNotPresent:
      return failWith(kTokenRemoved, "token \"" + key.token + "\"");
    default: {
      char detail[64];
      (void)std::snprintf(detail, sizeof detail, "PKCS#11 error 0x%lX", value);
      return failWith(kTokenFailed, detail);
    }
  }
}

bool sameId(const unsigned char* id, std::size_t length, const Bytes& wanted) {
  return length == wanted.size() && (length == 0 || std::memcmp(id, wanted.data(), length) == 0);
}

// The key of `id` in `list`, added when missing.
TokenKey& entry(std::vector<TokenKey>& list, PKCS11_SLOT* slot, const unsigned char* id,
                std::size_t length) {
  for (TokenKey& key : list) {
    if (key.slot == slot && sameId(id, length, key.id)) return key;
  }
  list.emplace_back();
  list.back().slot = slot;
  list.back().token = slot->token->label != nullptr ? slot->token->label : "";
  list.back().id.assign(id, id + length);
  return list.back();
}

// Every "token/key" split of `name`, and the whole name as a key label.
bool nameMatches(const std::string& name, const TokenKey& key) {
  if (name == key.label) return true;
  for (std::size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', slash + 1)) {
    if (name.compare(0, slash, key.token) == 0 && name.substr(slash + 1) == key.label) return true;
  }
  return false;
}

}  // namespace

std::uint32_t TokenModule::load() {
  ModuleConfig config = readModuleConfig();
  defaultKey_ = config.defaultKey;
  if (context_ != nullptr) return kOk;
  context_ = PKCS11_CTX_new();
  if (context_ == nullptr) return failWith(kOutOfMemory);
  if (PKCS11_CTX_load(context_, config.module.c_str()) != 0) {
    PKCS11_CTX_free(context_);
    context_ = nullptr;
    ERR_clear_error();
    return failWith(kModuleUnavailable, baseName(config.module));
  }
  if (PKCS11_enumerate_slots(context_, &slots_, &slotCount_) != 0) {
    unload();
    return failWith(kModuleUnavailable, baseName(config.module) + " lists no slots");
  }
  return kOk;
}

void TokenModule::unload() {
  if (context_ == nullptr) return;
  if (slots_ != nullptr) PKCS11_release_all_slots(context_, slots_, slotCount_);
  slots_ = nullptr;
  slotCount_ = 0;
  PKCS11_CTX_unload(context_);
  PKCS11_CTX_free(context_);
  context_ = nullptr;
  ERR_clear_error();
}

// Keys are found through their public objects (certificates, public keys),
// which a token shows before login; a certificate counts as a key only on a
// token that needs a login, so a trust store's certificates are not keys.
std::vector<TokenKey> TokenModule::keys() {
  std::vector<TokenKey> list;
  for (unsigned int i = 0; i < slotCount_; ++i) {
    PKCS11_SLOT* slot = &slots_[i];
    if (slot->token == nullptr || !slot->token->initialized) continue;
    PKCS11_KEY* publicKeys = nullptr;
    unsigned int publicCount = 0;
    if (PKCS11_enumerate_public_keys(slot->token, &publicKeys, &publicCount) != 0) publicCount = 0;
    for (unsigned int k = 0; k < publicCount; ++k) {
      TokenKey& key = entry(list, slot, publicKeys[k].id, publicKeys[k].id_len);
      if (publicKeys[k].label != nullptr) key.label = publicKeys[k].label;
    }
    PKCS11_CERT* certificates = nullptr;
    unsigned int certificateCount = 0;
    if (PKCS11_enumerate_certs(slot->token, &certificates, &certificateCount) != 0) {
      certificateCount = 0;
    }
    for (unsigned int c = 0; c < certificateCount; ++c) {
      const PKCS11_CERT& found = certificates[c];
      if (found.x509 == nullptr || found.id_len == 0) continue;
      bool known = false;
      for (const TokenKey& key : list)
        known = known || (key.slot == slot && sameId(found.id, found.id_len, key.id));
      if (!known && !slot->token->loginRequired) continue;
      TokenKey& key = entry(list, slot, found.id, found.id_len);
      if (key.label.empty() && found.label != nullptr) key.label = found.label;
      X509_up_ref(found.x509);
      key.certificate.reset(found.x509);
    }
  }
  ERR_clear_error();
  return list;
}

std::uint32_t TokenModule::findNamed(const std::string& name, TokenKey& key) {
  std::vector<TokenKey> matches;
  for (TokenKey& candidate : keys()) {
    if (nameMatches(name, candidate)) matches.push_back(std::move(candidate));
  }
  if (matches.empty()) return failWith(kKeyNotFound, name);
  if (matches.size() > 1) {
    std::vector<std::string> names;
    names.reserve(matches.size());
    for (const TokenKey& match : matches) names.push_back(quoted(match));
    std::sort(names.begin(), names.end());  // slot order is the module's whim
    std::string where;
    for (const std::string& each : names) where += (where.empty() ? "" : ", ") + each;
    return failWith(kKeyAmbiguous, name + " (" + where + ")");
  }
  if (!matches.front().certificate) return failWith(kNoCertificate, quoted(matches.front()));
  key = std::move(matches.front());
  return kOk;
}

std::uint32_t TokenModule::find(const std::string& name, TokenKey& key) {
  if (!name.empty()) return findNamed(name, key);
  if (!defaultKey_.empty()) return findNamed(defaultKey_, key);
  std::vector<TokenKey> all = keys();
  if (all.size() != 1) {
    return failWith(kNoDefaultKey, "the tokens hold " + std::to_string(all.size()) +
                                       " keys and the configuration names none as the default");
  }
  if (!all.front().certificate) return failWith(kNoCertificate, quoted(all.front()));
  key = std::move(all.front());
  return kOk;
}

std::uint32_t TokenModule::logIn(const TokenKey& key) {
  PKCS11_TOKEN* token = key.slot->token;
  int loggedIn = 0;
  if (token == nullptr) return failWith(kTokenRemoved, "token \"" + key.token + "\"");
  if (!token->loginRequired ||
      (PKCS11_is_logged_in(key.slot, 0, &loggedIn) == 0 && loggedIn != 0)) {
    return kOk;
  }
  if (token->userPinLocked) return failWith(kPinLocked, "token \"" + key.token + "\"");
  if (token->secureLogin) {
    return PKCS11_login(key.slot, 0, nullptr) == 0 ? kOk : tokenFailure(key, token);
  }
  consent::Prompt prompt;
  prompt.title = "Quorvant signing";
  prompt.description = "A web page asks to sign with the key " + quoted(key) +
                       ".\nEnter the PIN of the token \"" + key.token + "\" to allow it.";
  prompt.prompt = "PIN:";
  if (token->userPinFinalTry) prompt.error = "This is the last try before the PIN is locked.";
  consent::Secret pin;
  std::string detail;
  if (std::uint32_t status = consentStatus(consent::askSecret(prompt, pin, detail), detail, true)) {
    return status;
  }
  int failed = PKCS11_login(key.slot, 0, pin.c_str());
  pin.wipe();
  return failed == 0 ? kOk : tokenFailure(key, token);
}

std::uint32_t TokenModule::credential(const TokenKey& key, Credential& out) {
  PKCS11_KEY* privateKeys = nullptr;
  unsigned int count = 0;
  if (key.slot->token == nullptr ||
      PKCS11_enumerate_keys(key.slot->token, &privateKeys, &count) != 0) {
    return unlessRemoved(key, tokenFailure(key, key.slot->token));
  }
  for (unsigned int i = 0; i < count; ++i) {
    if (!sameId(privateKeys[i].id, privateKeys[i].id_len, key.id)) continue;
    out.key.reset(PKCS11_get_private_key(&privateKeys[i]));
    if (!out.key) return unlessRemoved(key, tokenFailure(key, key.slot->token));
    X509_up_ref(key.certificate.get());
    out.certificate.reset(key.certificate.get());
    return kOk;
  }
  return failWith(kKeyNotFound, "no private key for the certificate " + quoted(key));
}

std::uint32_t TokenModule::unlessRemoved(const TokenKey& key, std::uint32_t status) {
  int loggedIn = 0;
  if (key.slot->token == nullptr || PKCS11_is_logged_in(key.slot, 0, &loggedIn) != 0) {
    ERR_clear_error();
    return failWith(kTokenRemoved, "token \"" + key.token + "\"");
  }
  return status;
}

}  // namespace tokens::pkcs11
