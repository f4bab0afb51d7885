#pragma once

#include <cstdint>
#include <string>

#include "vendor/softtoken/credential.h"

namespace softtoken {

// Opens a container for a new session, with the person's consent: a
// container with a passphrase asks for it through pinentry; one without asks
// the person to confirm, unless it was made to be used without confirmation.
// Returns kOk, a status of readContainer, kWrongPassphrase, kCancelled,
// kNoPinentry or kNoAnswer; the passphrase is wiped after use.
std::uint32_t unlockContainer(const std::string& store, const std::string& name, Credential& out);

}  // namespace softtoken
