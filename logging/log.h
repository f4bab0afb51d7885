#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace logging {

// The severity scale of the log: a record is written when its severity is
// not above the maximum severity given to startLog.
enum Severity : int {
  none = 0,
  fatal = 1,
  error = 2,
  warning = 3,
  info = 4,
  debug = 5,
  verbose = 6
};

// Maximum severity in force; `none` until startLog ran, so nothing is logged.
extern int gMaxSeverity;

inline bool isLogged(Severity severity) { return severity != none && severity <= gMaxSeverity; }

// One record under construction; written to the log when destroyed. Pieces
// are streamed in order: UTF-16 texts, UTF-8 texts and integers.
class LogRecord {
 public:
  LogRecord(Severity severity, const char* prettyFunction, int line);
  // A record whose function tag is given as is, for code that speaks for
  // another function (the message loop speaks for main).
  LogRecord(Severity severity, int line, const char* tag);
  ~LogRecord();
  LogRecord(const LogRecord&) = delete;
  LogRecord& operator=(const LogRecord&) = delete;

  LogRecord& operator<<(const char16_t* text);
  LogRecord& operator<<(const std::u16string& text);
  LogRecord& operator<<(const char* text);
  LogRecord& operator<<(const std::string& text);
  LogRecord& operator<<(unsigned long long value);
  LogRecord& operator<<(long long value);
  LogRecord& operator<<(unsigned long value) {
    return *this << static_cast<unsigned long long>(value);
  }
  LogRecord& operator<<(long value) { return *this << static_cast<long long>(value); }
  LogRecord& operator<<(unsigned value) { return *this << static_cast<unsigned long long>(value); }
  LogRecord& operator<<(int value) { return *this << static_cast<long long>(value); }

 private:
  Severity severity_;
  const char* function_;
  int line_;
  bool literalTag_ = false;
  void appendUtf16(const char16_t* text, std::size_t size);

  std::string message_;  // UTF-8
};

// The function tag of a record: the qualified name of the enclosing function,
// without return type and parameters ("vorna::DataSigned::signData").
std::string functionTag(const char* prettyFunction);

}  // namespace logging

// Starts logging once per process: seeds rand() with the process identifier,
// draws a free name "Quorvant_" + 7 characters + ".log" in the temporary
// directory under the log-name lock, and creates that file only when the
// first record passes `maxSeverity` (never at `none`).
void startLog(int maxSeverity);

// Statement macros: the severity test comes first, so no piece of the message
// is evaluated (conversions, error texts) unless the record will be written.
#define LOG_AT(severity)                           \
  if (!::logging::isLogged(::logging::severity)) { \
  } else                                           \
    ::logging::LogRecord(::logging::severity, __PRETTY_FUNCTION__, __LINE__)
#define LOG_ERROR LOG_AT(error)
#define LOG_DEBUG LOG_AT(debug)
#define LOG_TAGGED(severity, tag)                  \
  if (!::logging::isLogged(::logging::severity)) { \
  } else                                           \
    ::logging::LogRecord(::logging::severity, __LINE__, tag)
