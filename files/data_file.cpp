#include "files/data_file.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "logging/log.h"
#include "logging/random_string.h"
#include "platform/file_system.h"
#include "platform/named_lock.h"
#include "text/base64.h"
#include "text/text_convert.h"

namespace {

std::string drawDataFileName(const std::string& directory) {
  return directory + "Quorvant_" + randomString(7) + ".bin";
}

// Creates a file of a fresh name; another process that does not take our
// lock may still win a name between the test and the creation, so a lost
// race draws again instead of failing.
bool createFreshFile(const std::string& directory, std::string& path, platform::NewFile& file) {
  path = drawDataFileName(directory);
  for (;;) {
    if (platform::pathExists(path)) {
      path = drawDataFileName(directory);
      continue;
    }
    if (file.create(path)) return true;
    if (!platform::pathExists(path)) return false;
  }
}

}  // namespace

std::u16string defaultDataDirectory() {
  std::optional<std::u16string> folder = platform::temporaryPath();
  if (!folder) return {};
  std::u16string directory = *folder;
  if (!directory.empty() && directory.back() != platform::kPathSeparator) {
    directory += platform::kPathSeparator;
  }
  directory += kDefaultDataDirectoryName;
  directory += platform::kPathSeparator;
  platform::createDirectory(directory);
  return directory;
}

std::u16string createDataFile(const std::u16string& directory, const std::u16string& content) {
  if (content.empty()) {
    LOG_ERROR << u"Encoded file content is empty...";
    return {};
  }
  // Straight from the request's text: the content can be 64 MiB, and its
  // converted copy would cost as much memory and time as the decoding.
  bool exact = true;
  std::vector<std::uint8_t> bytes = base64DecodeWide(content, exact);
  if (!exact) bytes = base64Decode(wideToAnsi(content));
  if (bytes.empty()) {
    LOG_ERROR << u"Decoded file content is empty...";
    return {};
  }

  platform::NamedLock lock("quorvantCreateDataFileLock");
  std::string path;
  platform::NewFile file;
  if (!createFreshFile(wideToAnsi(directory), path, file)) {
    LOG_ERROR << u"Error open file " << ansiToWide(path);
    return {};
  }
  bool written = file.write(bytes.data(), bytes.size());
  // A failed close may mean the bytes never reached the disk.
  written = file.close() && written;
  if (!written) {
    LOG_ERROR << u"Error write file " << ansiToWide(path);
    // Nobody else knows this file; leaving it would leak request data.
    platform::removeFile(path);
    return {};
  }
  std::u16string widePath = ansiToWide(path);
  LOG_DEBUG << u"Write file " << widePath << u" ok...";
  return widePath;
}
