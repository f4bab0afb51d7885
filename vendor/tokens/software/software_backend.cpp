// The software token's backend: credentials are key containers on disk,
// unlocked with the person's consent. Nothing outlives a session but its
// credential, so keys may be used by several threads at once.
#include "vendor/consent/pinentry.h"
#include "vendor/tokens/backend.h"
#include "vendor/tokens/software/container_store.h"
#include "vendor/tokens/software/pkcs12.h"
#include "vendor/tokens/token_status.h"

namespace tokens::software {
namespace {

consent::Prompt promptFor(const std::string& name, const std::string& question) {
  consent::Prompt prompt;
  prompt.title = "Quorvant signing";
  prompt.description =
      "A web page asks to sign with the key container \"" + name + "\".\n" + question;
  return prompt;
}

// A container with a passphrase asks for it through pinentry; one without
// asks the person to confirm, unless it was made to be used without
// confirmation. The passphrase is wiped after use.
std::uint32_t unlockContainer(const std::string& store, const std::string& name, Credential& out) {
  std::string bytes;
  if (std::uint32_t status = readContainer(store, name, bytes)) return status;
  std::string detail;
  std::string error;
  if (!needsPassword(bytes)) {
    // A container that cannot be used never bothers the person.
    if (!readPkcs12(bytes, "", out, error)) {
      return failWith(kContainerUnreadable, name + ": " + error);
    }
    if (!confirmsEachSession(store, name)) return kOk;
    consent::Prompt prompt = promptFor(name, "Allow it?");
    prompt.prompt = "Allow";
    return consentStatus(consent::askConfirmation(prompt, detail), detail, false);
  }
  consent::Prompt prompt = promptFor(name, "Enter its passphrase to allow it.");
  prompt.prompt = "Passphrase:";
  consent::Secret passphrase;
  if (std::uint32_t status =
          consentStatus(consent::askSecret(prompt, passphrase, detail), detail, false)) {
    return status;
  }
  bool opened = readPkcs12(bytes, passphrase.c_str(), out, error);
  passphrase.wipe();
  return opened ? kOk : failWith(kWrongPassphrase, name);
}

class SoftwareBackend : public Backend {
 public:
  std::uint32_t open(const char* name, std::shared_ptr<const Credential>& out) override {
    if (name != nullptr && *name == '\0') return failWith(kBadContainerName, "empty name");
    std::string store = defaultStoreDirectory();
    if (store.empty()) return failWith(kNoStore);
    std::string chosen = name != nullptr ? name : "";
    if (name == nullptr) {
      if (std::uint32_t status = defaultContainerName(store, chosen)) return status;
    }
    auto credential = std::make_shared<Credential>();
    if (std::uint32_t status = unlockContainer(store, chosen, *credential)) return status;
    out = std::move(credential);
    return kOk;
  }
};

}  // namespace
}  // namespace tokens::software

tokens::Backend& tokens::backend() {
  static Backend& software = *new software::SoftwareBackend;
  return software;
}
