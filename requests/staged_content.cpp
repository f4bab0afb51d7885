#include "requests/staged_content.h"

#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "files/data_file.h"
#include "logging/log.h"
#include "platform/error_text.h"
#include "platform/file_system.h"
#include "requests/content_staging.h"
#include "requests/request_fields.h"
#include "text/base64.h"
#include "text/text_convert.h"

namespace {

const char16_t kBadContent[] = u"Bad parameter contentFile in action stageContent";
const char16_t kBadBase64[] =
    u"Bad Base64 in contentFile: a part must be whole 4-character groups, padded only at its end";
const char16_t kBadName[] = u"Bad parameter stagedContent in action stageContent";
const char16_t kUnknownName[] = u"Unknown or already used stagedContent";
const char16_t kEnded[] = u"Content part does not follow on: a padded part ended the content";
const char16_t kNotCreated[] = u"Error create data file";
const char16_t kNotWritten[] = u"Error write data file";
const char16_t kBothGiven[] =
    u"Bad parameter stagedContent in action getSignature: fileDataPath or contentFile given too";

// One staged file, open for appending. Whoever drops it removes the file:
// a failed part, a throw, or the end of the input leaves nothing behind.
struct Staging {
  Staging() = default;
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging() {
    file.close();  // Windows removes no open file
    if (!path.empty() && !platform::removeFile(path)) {
      const std::string cause = platform::lastErrorText();
      LOG_ERROR << u"Error delete file " << pathText(path) << u": " << cause;
    }
  }

  platform::Path path;  // empty once handed over for signing
  platform::NewFile file;
  std::uint64_t bytes = 0;
  bool ended = false;  // a padded part came: nothing may follow
};

using StagingTable = std::map<std::u16string, std::unique_ptr<Staging>>;

StagingTable& stagingTable() {
  static StagingTable table;
  return table;
}

// Takes the entry out of the table; null when there is none.
std::unique_ptr<Staging> takeStaging(const std::u16string& name) {
  StagingTable& table = stagingTable();
  auto found = table.find(name);
  if (found == table.end()) return nullptr;
  std::unique_ptr<Staging> staging = std::move(found->second);
  table.erase(found);
  return staging;
}

// Not the log's generator: a name must not be guessable from the process
// identifier that seeds it.
std::u16string drawName() {
  static const char16_t kAlphabet[] =
      u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  static std::random_device device;
  std::uniform_int_distribution<int> pick(0, 61);
  std::u16string name;
  do {
    name.clear();
    for (int i = 0; i < 16; ++i) name += kAlphabet[pick(device)];
  } while (stagingTable().count(name) != 0);
  return name;
}

bool fail(std::u16string& description, const std::u16string& text) {
  description = text;
  LOG_ERROR << u"stageContent: " << description;
  return false;
}

// The number of '=' ending a part of whole groups of four: at most two.
std::size_t paddingOf(const std::u16string& text) {
  std::size_t padding = 0;
  while (padding < 2 && text[text.size() - 1 - padding] == u'=') ++padding;
  return padding;
}

std::unique_ptr<Staging> createStaging(const JsonValue& request) {
  const std::u16string directory = stagingDirectory(request);
  if (directory.empty()) return nullptr;
  auto staging = std::make_unique<Staging>();
  const std::u16string path = createOpenDataFile(directory, staging->file);
  if (path.empty()) return nullptr;
  staging->path = toPath(path);
  return staging;
}

bool appendPart(const JsonValue& request, const std::u16string& text,
                std::unique_ptr<Staging>& staging, std::u16string& description) {
  if (text.size() % 4 != 0) return fail(description, kBadBase64);
  // Known before decoding: a part past the limit is refused unread.
  const std::uint64_t partBytes = text.size() / 4 * 3 - paddingOf(text);
  const std::uint64_t total = (staging ? staging->bytes : 0) + partBytes;
  if (total > kMaxStagedBytes) {
    return fail(description, u"Content too large: a staged file holds at most " +
                                 utf8ToWide(std::to_string(kMaxStagedBytes)) + u" bytes");
  }
  if (staging && staging->ended) return fail(description, kEnded);
  bool exact = true;
  std::vector<std::uint8_t> bytes = base64DecodeWide(text, exact);
  // The decoder stops at the first character outside the alphabet: only a
  // part of alphabet characters up to its padding gives all its bytes.
  if (bytes.size() != partBytes) return fail(description, kBadBase64);
  if (!staging) staging = createStaging(request);
  if (!staging) return fail(description, kNotCreated);
  if (!staging->file.write(bytes.data(), bytes.size())) {
    const std::string cause = platform::lastErrorText();
    LOG_ERROR << u"Error write file " << pathText(staging->path) << u": " << cause;
    return fail(description, kNotWritten + (u": " + utf8ToWide(cause)));
  }
  staging->bytes = total;
  staging->ended = partBytes % 3 != 0;
  return true;
}

}  // namespace

bool stageContent(const JsonValue& request, StagedProgress& progress, std::u16string& description) {
  const JsonValue* named = findDataMember(request, u"stagedContent");
  const JsonValue* content = findDataMember(request, u"contentFile");
  const JsonValue* discard = findDataMember(request, u"discard");
  if (named != nullptr && !named->isString()) return fail(description, kBadName);
  // Out of the table while the request is served: dropped, and so removed,
  // on every failure, a throw included.
  std::unique_ptr<Staging> staging;
  std::u16string name = named != nullptr ? named->asString() : std::u16string();
  if (!name.empty()) {
    staging = takeStaging(name);
    if (!staging) return fail(description, kUnknownName);
  }
  if (discard != nullptr && discard->isBool() && discard->asBool()) {
    if (!staging) return fail(description, kBadName);
    if (content != nullptr) return fail(description, kBadContent);
    progress = {name, 0};
    return true;
  }
  if (content == nullptr || !content->isString() || content->asString().empty()) {
    return fail(description, kBadContent);
  }
  if (!appendPart(request, content->asString(), staging, description)) return false;
  if (name.empty()) name = drawName();
  progress = {name, staging->bytes};
  stagingTable()[name] = std::move(staging);
  return true;
}

bool hasStagedContent(const JsonValue& request) {
  const JsonValue* named = findDataMember(request, u"stagedContent");
  return named != nullptr && named->isString() && !named->asString().empty();
}

std::u16string takeStagedContent(const JsonValue& request, std::u16string& description) {
  const JsonValue* named = findDataMember(request, u"stagedContent");
  std::unique_ptr<Staging> staging =
      named != nullptr && named->isString() ? takeStaging(named->asString()) : nullptr;
  if (!staging) {
    description = kUnknownName;
  } else if (findDataMember(request, u"fileDataPath") || findDataMember(request, u"contentFile")) {
    description = kBothGiven;
  } else if (!staging->file.close()) {
    const std::string cause = platform::lastErrorText();
    LOG_ERROR << u"Error write file " << pathText(staging->path) << u": " << cause;
    description = kNotWritten + (u": " + utf8ToWide(cause));
  } else {
    std::u16string path = pathText(staging->path);
    staging->path.clear();
    return path;
  }
  LOG_ERROR << u"getSignature: " << description;
  return {};
}

void discardStagedContent(const std::u16string& name) { takeStaging(name); }

void discardAllStagedContent() { stagingTable().clear(); }
