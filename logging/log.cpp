#include "logging/log.h"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>

#include <cstdlib>
#include <memory>

#include "logging/random_string.h"
#include "platform/file_system.h"
#include "platform/named_lock.h"
#include "platform/process.h"
#include "text/text_convert.h"

namespace logging {

int gMaxSeverity = none;

namespace {

constexpr const char* kSeverityNames[] = {"NONE", "FATAL", "ERROR", "WARN",
                                          "INFO", "DEBUG", "VERB"};

// A file sink that creates its file only when the first record arrives, with
// exclusive creation, and writes each record straight through (a crash loses
// nothing). A file that cannot be created takes nothing, silently.
class LazyFileSink final : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  explicit LazyFileSink(platform::Path path) : path_(std::move(path)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    if (!opened_) {
      opened_ = true;
      usable_ = file_.create(path_).ok();
    }
    if (!usable_) return;
    spdlog::memory_buf_t text;
    formatter_->format(msg, text);
    (void)file_.write(text.data(), text.size());
  }
  void flush_() override {}

 private:
  platform::Path path_;
  platform::NewFile file_;
  bool opened_ = false;
  bool usable_ = false;
};

std::shared_ptr<spdlog::logger>& logger() {
  static std::shared_ptr<spdlog::logger> instance;
  return instance;
}

}  // namespace

std::string functionTag(const char* prettyFunction) {
  std::string text(prettyFunction);
  // The parameter list starts at the first '(' outside template brackets.
  int depth = 0;
  std::size_t open = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<') ++depth;
    if (text[i] == '>') --depth;
    if (text[i] == '(' && depth == 0) {
      open = i;
      break;
    }
  }
  std::size_t start = text.rfind(' ', open);
  start = (start == std::string::npos || start > open) ? 0 : start + 1;
  return text.substr(start, open - start);
}

LogRecord::LogRecord(Severity severity, const char* prettyFunction, int line)
    : severity_(severity), function_(prettyFunction), line_(line) {}

LogRecord::LogRecord(Severity severity, int line, const char* tag)
    : severity_(severity), function_(tag), line_(line), literalTag_(true) {}

LogRecord::~LogRecord() {
  auto& sink = logger();
  if (!sink) return;
  // A record that cannot be built or written (no memory, a failing sink) is
  // dropped: an exception leaving a destructor would end the process.
  try {
    std::string record =
        fmt::format("{:<5} [{}] [{}@{}] ", kSeverityNames[severity_], platform::threadId(),
                    literalTag_ ? std::string(function_) : functionTag(function_), line_);
    record += message_;
    sink->log(severity_ <= error ? spdlog::level::err : spdlog::level::debug, "{}", record);
  } catch (...) {
  }
}

LogRecord& LogRecord::operator<<(const char16_t* text) {
  std::size_t size = 0;
  while (text[size] != 0) ++size;
  appendUtf16(text, size);
  return *this;
}

LogRecord& LogRecord::operator<<(const std::u16string& text) {
  appendUtf16(text.data(), text.size());
  return *this;
}

void LogRecord::appendUtf16(const char16_t* text, std::size_t size) {
  // Log files are UTF-8 whatever the code page; a lone surrogate from a
  // request must not stop a record.
  message_ += wideToUtf8(text, size, LoneSurrogate::kReplacement);
}

LogRecord& LogRecord::operator<<(const char* text) {
  message_ += text;
  return *this;
}

LogRecord& LogRecord::operator<<(const std::string& text) {
  message_ += text;
  return *this;
}

LogRecord& LogRecord::operator<<(unsigned long long value) {
  message_ += std::to_string(value);
  return *this;
}

LogRecord& LogRecord::operator<<(long long value) {
  message_ += std::to_string(value);
  return *this;
}

}  // namespace logging

void startLog(int maxSeverity) {
  platform::NamedLock lock("quorvantCreateLogNameLock");
  std::srand(platform::processId());

  // Without a private temporary folder the host logs nothing.
  platform::Path folder;
  if (!platform::temporaryPath(folder).ok()) return;
  auto drawName = [&folder] {
    const std::string name = "Quorvant_" + randomString(7) + ".log";
    return folder + platform::Path(name.begin(), name.end());
  };
  platform::Path name = drawName();
  while (platform::pathExists(name)) name = drawName();

  auto sink = std::make_shared<logging::LazyFileSink>(name);
  sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "%Y-%m-%d %H:%M:%S.%e %v", spdlog::pattern_time_type::local, std::string("\n")));
  auto logger = std::make_shared<spdlog::logger>("quorvant", std::move(sink));
  logger->set_level(spdlog::level::trace);
  logging::logger() = std::move(logger);
  logging::gMaxSeverity = maxSeverity;

  LOG_DEBUG << u"Start quorvant...";
  // Only now is there a log to say that the name was drawn unlocked.
  if (!lock.status().ok()) {
    LOG_ERROR << u"Error lock quorvantCreateLogNameLock, running unlocked: "
              << lock.status().text();
  }
}
