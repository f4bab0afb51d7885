#include "requests/content_staging.h"

#include "files/data_file.h"
#include "logging/log.h"
#include "platform/file_system.h"
#include "requests/request_fields.h"
#include "text/text_convert.h"

std::u16string stagingDirectory(const JsonValue& request) {
  std::u16string directory = getWorkingDirectory(request);
  platform::Status status;
  if (!directory.empty()) {
    if (directory.back() != platform::kPathSeparator) directory += platform::kPathSeparator;
    status = platform::createDirectory(toPath(directory));
  } else {
    directory = defaultDataDirectory(status);
    if (directory.empty()) {
      LOG_ERROR << u"Error open file " << kDefaultDataDirectoryName << u": " << status.text();
      return {};
    }
  }
  // Staging goes on: the file's creation then fails with its own record.
  if (!status.ok()) {
    LOG_ERROR << u"Error create directory " << directory << u": " << status.text();
  }
  return directory;
}

std::u16string stageContentFile(const JsonValue& request) {
  const JsonValue* content = findDataMember(request, u"contentFile");
  if (content == nullptr || !content->isString()) return {};
  std::u16string directory = stagingDirectory(request);
  return directory.empty() ? directory : createDataFile(directory, content->asString());
}

std::u16string dataFilePath(const JsonValue& request) {
  std::u16string path = getFileDataPath(request);
  return path.empty() ? stageContentFile(request) : path;
}
