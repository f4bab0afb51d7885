#include "vendor/tokens/software/container_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vendor/tokens/software/pkcs12.h"
#include "vendor/tokens/token_status.h"

namespace tokens::software {
namespace {

constexpr char kExtension[] = ".p12";
// Beside a container made to be used without confirmation.
constexpr char kNoConfirmExtension[] = ".noconfirm";
constexpr std::size_t kMaxNameBytes = 200;

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// mkdir -p with mode 0700 for every directory it creates.
bool makeDirectories(const std::string& path, std::string& error) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot create " + part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Writes a new file under a temporary name, then moves it into place, so a
// reader never sees half a container.
bool writeFileAtomically(const std::string& path, const std::string& bytes, bool replace,
                         std::string& error) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());  // mode 0600
  if (fd < 0) {
    error = "cannot create a file next to " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  int placed = !written  ? -1
               : replace ? ::rename(temporary.c_str(), path.c_str())
                         : ::link(temporary.c_str(), path.c_str());
  int placeError = errno;
  if (!replace || placed != 0) ::unlink(temporary.c_str());
  if (placed != 0) {
    error = !written               ? "cannot write " + path
            : placeError == EEXIST ? "the key container already exists: " + path
                                   : "cannot write " + path + ": " + std::strerror(placeError);
    return false;
  }
  return true;
}

bool readFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream contents;
  contents << in.rdbuf();
  bytes = contents.str();
  return !in.bad();
}

}  // namespace

std::string defaultStoreDirectory() {
  std::string chosen = variable(kStoreVariable);
  if (!chosen.empty()) return chosen;
  std::string data = variable("XDG_DATA_HOME");
  if (data.empty() || data[0] != '/') {
    std::string home = variable("HOME");
    if (home.empty()) return std::string();
    data = home + "/.local/share";
  }
  return data + "/quorvant/containers";
}

bool isValidContainerName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes || name[0] == '.') return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

std::string containerPath(const std::string& store, const std::string& name) {
  return store + "/" + name + kExtension;
}

std::uint32_t readContainer(const std::string& store, const std::string& name, std::string& bytes) {
  if (!isValidContainerName(name)) return failWith(kBadContainerName, name);
  std::string path = containerPath(store, name);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 && errno == ENOENT) {
    return failWith(kContainerNotFound, name);
  }
  if (!S_ISREG(status.st_mode) || !readFile(path, bytes)) {
    return failWith(kContainerUnreadable, name + ": not a readable file");
  }
  return kOk;
}

std::uint32_t loadContainer(const std::string& store, const std::string& name, Credential& out) {
  std::string bytes;
  if (std::uint32_t status = readContainer(store, name, bytes)) return status;
  std::string error;
  if (!readPkcs12(bytes, "", out, error))
    return failWith(kContainerUnreadable, name + ": " + error);
  return kOk;
}

bool confirmsEachSession(const std::string& store, const std::string& name) {
  struct stat status {};
  return ::stat((store + "/" + name + kNoConfirmExtension).c_str(), &status) != 0;
}

std::uint32_t defaultContainerName(const std::string& store, std::string& name) {
  std::string chosen;
  if (readFile(store + "/default", chosen)) {
    name = chosen.substr(0, chosen.find_first_of("\r\n"));
    return kOk;
  }
  std::vector<std::string> names = containerNames(store);
  if (names.size() != 1) {
    return failWith(kNoDefaultContainer, "the store holds " + std::to_string(names.size()) +
                                             " containers and names none as the default");
  }
  name = names.front();
  return kOk;
}

std::vector<std::string> containerNames(const std::string& store) {
  std::vector<std::string> names;
  DIR* directory = ::opendir(store.c_str());
  if (directory == nullptr) return names;
  while (dirent* entry = ::readdir(directory)) {
    std::string file = entry->d_name;
    if (!endsWith(file, kExtension)) continue;
    std::string name = file.substr(0, file.size() - std::strlen(kExtension));
    if (isValidContainerName(name)) names.push_back(name);
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

bool saveContainer(const std::string& store, const std::string& name, const Credential& credential,
                   bool replace, std::string& error, const ContainerProtection& protection) {
  if (!isValidContainerName(name)) {
    error = "invalid key container name: " + name;
    return false;
  }
  std::string bytes = writePkcs12(credential, name, protection.passphrase, error);
  std::string marker = store + "/" + name + kNoConfirmExtension;
  if (bytes.empty() || !makeDirectories(store, error) ||
      !writeFileAtomically(containerPath(store, name), bytes, replace, error)) {
    return false;
  }
  // A passphrase is consent enough; without one the marker says "never ask".
  if (*protection.passphrase != '\0' || protection.confirmEachSession) {
    ::unlink(marker.c_str());
    return true;
  }
  return writeFileAtomically(marker, "", true, error);
}

bool removeContainer(const std::string& store, const std::string& name, std::string& error) {
  if (!isValidContainerName(name) || ::unlink(containerPath(store, name).c_str()) != 0) {
    error = "no key container named " + name + " in " + store;
    return false;
  }
  ::unlink((store + "/" + name + kNoConfirmExtension).c_str());
  std::string chosen;
  if (readFile(store + "/default", chosen) &&
      chosen.substr(0, chosen.find_first_of("\r\n")) == name) {
    ::unlink((store + "/default").c_str());
  }
  return true;
}

bool setDefaultContainer(const std::string& store, const std::string& name, std::string& error) {
  std::vector<std::string> names = containerNames(store);
  if (std::find(names.begin(), names.end(), name) == names.end()) {
    error = "no key container named " + name + " in " + store;
    return false;
  }
  return writeFileAtomically(store + "/default", name + "\n", true, error);
}

}  // namespace tokens::software
