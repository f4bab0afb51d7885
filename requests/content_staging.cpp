#include "requests/content_staging.h"

#include "files/data_file.h"
#include "logging/log.h"
#include "platform/file_system.h"
#include "requests/request_fields.h"
#include "text/text_convert.h"

std::u16string stagingDirectory(const JsonValue& request) {
  std::u16string directory = getWorkingDirectory(request);
  if (!directory.empty()) {
    if (directory.back() != platform::kPathSeparator) directory += platform::kPathSeparator;
    platform::createDirectory(toPath(directory));
  } else {
    directory = defaultDataDirectory();
    if (directory.empty()) {
      LOG_ERROR << u"Error open file " << kDefaultDataDirectoryName;
      return {};
    }
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
