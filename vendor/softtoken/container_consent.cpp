#include "vendor/softtoken/container_consent.h"

#include "vendor/consent/pinentry.h"
#include "vendor/softtoken/container_store.h"
#include "vendor/softtoken/token_status.h"

namespace softtoken {
namespace {

std::uint32_t refused(consent::Answer answer, const std::string& detail) {
  switch (answer) {
    case consent::Answer::kGiven:
      return kOk;
    case consent::Answer::kCancelled:
      return failWith(kCancelled);
    case consent::Answer::kNoPinentry:
      return failWith(kNoPinentry, detail);
    case consent::Answer::kNoAnswer:
      break;
  }
  return failWith(kNoAnswer, detail);
}

consent::Prompt promptFor(const std::string& name, const std::string& question) {
  consent::Prompt prompt;
  prompt.title = "Quorvant signing";
  prompt.description =
      "A web page asks to sign with the key container \"" + name + "\".\n" + question;
  return prompt;
}

}  // namespace

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
    return refused(consent::askConfirmation(prompt, detail), detail);
  }
  consent::Prompt prompt = promptFor(name, "Enter its passphrase to allow it.");
  prompt.prompt = "Passphrase:";
  consent::Secret passphrase;
  if (std::uint32_t status = refused(consent::askSecret(prompt, passphrase, detail), detail)) {
    return status;
  }
  bool opened = readPkcs12(bytes, passphrase.c_str(), out, error);
  passphrase.wipe();
  return opened ? kOk : failWith(kWrongPassphrase, name);
}

}  // namespace softtoken
