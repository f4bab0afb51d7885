#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vendor/tokens/credential.h"

// The key container store: one directory per user, each container a PKCS#12
// file "<name>.p12" (mode 0600), and an optional file "default" naming the
// container used when a login gives no name. Names and paths are UTF-8.
namespace tokens::software {

// The variable that chooses another store directory; only the token and its
// tools read it.
inline constexpr char kStoreVariable[] = "QUORVANT_TOKEN_STORE";

// $QUORVANT_TOKEN_STORE when set and not empty, else
// $XDG_DATA_HOME/quorvant/containers when that is absolute, else
// $HOME/.local/share/quorvant/containers; empty when none of them is set.
std::string defaultStoreDirectory();

// A name is 1 to 200 bytes, does not begin with '.', and holds no '/', no
// '\\' and no control character.
bool isValidContainerName(const std::string& name);

std::string containerPath(const std::string& store, const std::string& name);

// How a new container is protected: by a passphrase (UTF-8, "" for none),
// and, without one, whether each new session asks the person to confirm.
// The default, an unprotected container that never asks, is for throwaway
// containers only; quorvant_token asks for a passphrase unless told not to.
struct ContainerProtection {
  const char* passphrase = "";
  bool confirmEachSession = false;
};

// A container's PKCS#12 bytes. Returns kOk, kBadContainerName,
// kContainerNotFound or kContainerUnreadable; failures leave a detail
// through failWith.
std::uint32_t readContainer(const std::string& store, const std::string& name, std::string& bytes);

// Loads a container that has no passphrase; statuses as readContainer.
std::uint32_t loadContainer(const std::string& store, const std::string& name, Credential& out);

// False when the container was made to be used without confirmation.
bool confirmsEachSession(const std::string& store, const std::string& name);

// The name of the default container: the first line of the store's
// "default" file, else the only container of the store. kOk or
// kNoDefaultContainer.
std::uint32_t defaultContainerName(const std::string& store, std::string& name);

// The names of the store's containers, sorted; empty when the store is.
std::vector<std::string> containerNames(const std::string& store);

// Writes a container (creating the store with mode 0700 when missing).
// Without `replace` an existing container is kept and the call fails. False
// with a readable `error` on failure; no partial file is left behind.
bool saveContainer(const std::string& store, const std::string& name, const Credential& credential,
                   bool replace, std::string& error,
                   const ContainerProtection& protection = ContainerProtection());

// Deletes a container, and the default file when it named that container.
bool removeContainer(const std::string& store, const std::string& name, std::string& error);

// Makes `name` (an existing container) the default.
bool setDefaultContainer(const std::string& store, const std::string& name, std::string& error);

}  // namespace tokens::software
