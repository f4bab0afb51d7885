#include "files/data_file.h"

#include <cstdint>
#include <vector>

#include "logging/log.h"
#include "logging/random_string.h"
#include "platform/file_system.h"
#include "platform/named_lock.h"
#include "text/base64.h"
#include "text/text_convert.h"

namespace {

platform::Path drawDataFileName(const platform::Path& directory) {
  const std::string name = "Quorvant_" + randomString(7) + ".bin";
  return directory + platform::Path(name.begin(), name.end());
}

// Creates a file of a fresh name; another process that does not take our
// lock may still win a name between the test and the creation, so a lost
// race draws again instead of failing.
platform::Status createFreshFile(const platform::Path& directory, platform::Path& path,
                                 platform::NewFile& file) {
  path = drawDataFileName(directory);
  for (;;) {
    if (platform::pathExists(path)) {
      path = drawDataFileName(directory);
      continue;
    }
    platform::Status status = file.create(path);
    if (status.ok() || !platform::pathExists(path)) return status;
  }
}

}  // namespace

std::u16string defaultDataDirectory(platform::Status& status) {
  platform::Path folder;
  status = platform::temporaryPath(folder);
  if (!status.ok()) return {};
  std::u16string directory = pathText(folder);
  if (!directory.empty() && directory.back() != platform::kPathSeparator) {
    directory += platform::kPathSeparator;
  }
  directory += kDefaultDataDirectoryName;
  directory += platform::kPathSeparator;
  status = platform::createDirectory(toPath(directory));
  return directory;
}

std::u16string createOpenDataFile(const std::u16string& directory, platform::NewFile& file) {
  platform::NamedLock lock("quorvantCreateDataFileLock");
  if (!lock.status().ok()) {
    LOG_ERROR << u"Error lock quorvantCreateDataFileLock, running unlocked: "
              << lock.status().text();
  }
  platform::Path path;
  platform::Status status = createFreshFile(toPath(directory), path, file);
  if (!status.ok()) {
    LOG_ERROR << u"Error open file " << pathText(path) << u": " << status.text();
    return {};
  }
  return pathText(path);
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
  if (!lock.status().ok()) {
    LOG_ERROR << u"Error lock quorvantCreateDataFileLock, running unlocked: "
              << lock.status().text();
  }
  platform::Path path;
  platform::NewFile file;
  platform::Status status = createFreshFile(toPath(directory), path, file);
  if (!status.ok()) {
    LOG_ERROR << u"Error open file " << pathText(path) << u": " << status.text();
    return {};
  }
  status = file.write(bytes.data(), bytes.size());
  // A failed close may mean the bytes never reached the disk.
  platform::Status closed = file.close();
  if (status.ok()) status = closed;
  if (!status.ok()) {
    LOG_ERROR << u"Error write file " << pathText(path) << u": " << status.text();
    // Nobody else knows this file; leaving it would leak request data.
    platform::Status removed = platform::removeFile(path);
    if (!removed.ok()) {
      LOG_ERROR << u"Error delete file " << pathText(path) << u": " << removed.text();
    }
    return {};
  }
  std::u16string widePath = pathText(path);
  LOG_DEBUG << u"Write file " << widePath << u" ok...";
  return widePath;
}
