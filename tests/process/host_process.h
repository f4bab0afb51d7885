#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "json/json_value.h"
#include "tests/support/temp_dir.h"

// Runs the built host executable as a browser does: its standard input and
// output are pipes carrying frames (a 4-byte little-endian length, then that
// many bytes of UTF-8 JSON), its standard error is collected. Every wait is
// bounded, so a host that hangs fails the test instead of hanging it.

// How long the host may make no progress before a read, write or wait gives up.
inline constexpr std::chrono::seconds kHostTimeout{60};

// Entries "NAME=value" that the host gets on top of the test's own
// environment, from which TMPDIR and every AVCM_FAKE_* are removed first.
using Environment = std::vector<std::string>;

// One host process and the parent's ends of its three pipes. Not copyable;
// the destructor kills a host that is still running and reaps it.
class HostProcess {
 public:
  explicit HostProcess(const Environment& environment);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes raw bytes to the host's standard input. False when the host closed
  // it or took nothing for kHostTimeout. Safe to call from one writer thread
  // while another thread reads.
  bool write(const std::string& bytes);
  bool writeFrame(const std::string& body);
  // Ends the host's input; the host sees the end of input.
  void closeInput();

  // The next answer frame's body. Empty optional at the end of the output or
  // when no whole frame came within kHostTimeout (then timedOut() is true).
  std::optional<std::string> readFrame();
  // Writes `input` while reading whatever the host answers, closes the input
  // and returns every output byte up to the end of the output.
  std::string exchange(const std::string& input);
  // Closes the read end of the host's standard output, as a browser that
  // stopped listening does.
  void closeOutput();

  // Waits for the host to end: its exit code, 128 + signal number when a
  // signal ended it, -1 when it did not end within kHostTimeout (it is killed).
  int waitForExit();
  // Everything the host wrote to standard error so far (all of it after
  // waitForExit).
  std::string errorOutput() const;
  bool timedOut() const { return timedOut_; }
  // The running host's peak resident set so far in KiB (its own, counted
  // from its start); -1 when it cannot be read.
  long peakResidentKiB() const;

 private:
  // Reads what is available on standard output into pending_; false at the
  // end of the output or when nothing came before `deadline`.
  bool readMore(std::chrono::steady_clock::time_point deadline);
  void drainErrors(int fd);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  bool outputEnded_ = false;
  std::atomic<bool> timedOut_{false};  // set by a writer thread too
  std::optional<int> exitCode_;
  std::thread errorReader_;
  mutable std::mutex errorMutex_;
  std::string errors_;
};

// The frame carrying `body`; lengthBytes is its 4-byte little-endian prefix.
std::string frame(const std::string& body);
std::string lengthBytes(std::uint32_t length);

// Splits raw host output into frame bodies; bytes after the last whole frame
// go to `rest`.
std::vector<std::string> splitFrames(const std::string& output, std::string& rest);

// One host run with all input given up front.
struct HostRun {
  std::vector<std::string> answers;  // frame bodies, in order
  std::string rest;                  // output bytes that form no whole frame
  int exitCode = -1;
  std::string errors;                // standard error
};
HostRun runHost(const std::string& input, const Environment& environment);

// Standard Base64 with padding; fromBase64 is strict and gives an empty
// optional for anything else.
std::string toBase64(const std::string& bytes);
std::optional<std::string> fromBase64(const std::string& text);

// The signed message the test double makes for `data` in a session on
// `container`: "SIGNED:" container ":" length ":" FNV-1a 64-bit hash in hex.
std::string signedMessage(const std::string& container, const std::string& data);

// Parses an answer body (UTF-8 JSON); nullptr when it is not valid UTF-8 or
// not JSON.
std::unique_ptr<JsonValue> parseAnswer(const std::string& body);
// The text of the string member `name` of the answer's "data" object (UTF-8);
// empty optional when the answer or the member is missing or not a string.
std::optional<std::string> dataString(const std::string& body, const char16_t* name);

// The test double's call record: one entry per call, the operation's name,
// for AvCmInit followed by its flag ("AvCmInit 1"); AvCmGetErrorInfo lookups
// are left out. libraryExitLine is the record's "exit ..." line.
std::vector<std::string> libraryCalls(const std::string& recordPath);
std::string libraryExitLine(const std::string& recordPath);

// A test that owns a temporary directory, used as the hosts' TMPDIR, and a
// call record of the test double inside it.
class HostTest : public ::testing::Test {
 protected:
  std::string tempPath() const { return temp_.path(); }
  std::string recordPath() const { return temp_.path() + "/calls.log"; }
  // TMPDIR and AVCM_FAKE_LOG as above, plus `extra`.
  Environment environment(const Environment& extra = {}) const;
  HostRun run(const std::string& input, const Environment& extra = {}) const;
  // Sends each request as one frame and returns the answers.
  HostRun ask(const std::vector<std::string>& requests, const Environment& extra = {}) const;

  TempDir temp_;
};
