#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/json_value.h"
#include "tests/support/fake_library.h"

// Runs the built host as a browser does: frames (a 4-byte little-endian
// length, then UTF-8 JSON) over pipes, standard error to a file. Every read
// and wait gives up after an idle minute, so a hung host fails, not hangs.

// True when the host runs under a launcher (wine64 for the Windows build).
bool hostIsLaunched();
std::string hostPath();

// "NAME=value" entries the host gets on top of the test's own environment
// less TMPDIR and every AVCM_FAKE_*.
using Environment = std::vector<std::string>;

// One host process; the destructor kills it if still running and reaps it.
class HostProcess {
 public:
  explicit HostProcess(const Environment& environment, const std::string& host = "");
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Blocking write of raw bytes; false once the host closed its input.
  bool write(const std::string& bytes);
  bool writeFrame(const std::string& body);
  void closeInput();
  void closeOutput();  // as a browser that stopped listening
  // The next answer's body; none at the end of the output or after the time
  // limit without a whole frame.
  std::optional<std::string> readFrame();
  // Exit code, 128 + signal number, or -1 when the host had to be killed.
  int waitForExit();
  std::string errorOutput() const;
  // The host's memory in KiB from its /proc status line `field`; -1 unread.
  long memoryKiB(const char* field = "VmHWM:") const;
  // Output bytes read but forming no whole frame.
  const std::string& unread() const { return pending_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string errorPath_;
  std::string pending_;
  std::optional<int> exitCode_;
};

std::string lengthBytes(std::uint32_t length);
std::string frame(const std::string& body);

// One host run with all input given up front, written while answers are read
// (none when `deaf`: its answer stream is closed at once, as by a gone browser).
struct HostRun {
  std::vector<std::string> answers;  // frame bodies, in order
  std::string rest;                  // output bytes that form no whole frame
  int exitCode = -1;
  std::string errors;  // standard error
};
HostRun runHost(const std::string& input, const Environment& environment, bool deaf = false);

void writeFile(const std::string& path, const std::string& bytes);

// `openssl cms -verify` of a Base64 signature over the file `data`, trusting
// the Base64 DER certificate; work files go to `dir`.
bool opensslVerifies(const std::string& dir, const std::string& signature,
                     const std::string& certificate, const std::string& data);

std::string toBase64(const std::string& bytes);
// The test double's signature of `data` in a session on `container`, Base64.
std::string signatureOf(const std::string& container, const std::string& data);

// The answer parsed (nullptr when not JSON); a string member of its "data".
std::unique_ptr<JsonValue> parseAnswer(const std::string& body);
std::optional<std::string> dataString(const std::string& body, const char16_t* name);

// A test with its own temporary directory: the hosts' TMPDIR, holding the
// double's call record.
class HostTest : public ::testing::Test {
 protected:
  std::string tempPath() const { return temp_.path(); }
  std::string recordPath() const { return temp_.path() + "/calls.log"; }
  Environment environment(const Environment& extra = {}) const;

  TempDir temp_;
};
