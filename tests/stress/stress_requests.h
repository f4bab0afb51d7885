#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Mixed requests for the stress and soak tests and the check of their
// answers. Requests come in cycles of eight per host process: open a session
// on "C1", read its certificate, sign content staged in the shared working
// directory, sign content staged in the default data directory, an error
// request, an unknown action, close the session, and a message that gets no
// answer. Only the first request of a cycle logs in, so the test double's
// provider handles (0x1001, 0x1002, ...) are known in advance.

struct MixedRequest {
  std::string body;       // UTF-8 JSON, or bytes that are no JSON object
  std::string contentId;  // expected back in the answer
  bool answered = true;   // false: the host must send nothing for it
  bool stages = false;    // a data file is staged and signed
  std::string result;     // "success" or "error"
  std::optional<std::string> description;
  std::optional<std::string> signature;    // the signed message, before Base64
  std::optional<std::string> certificate;  // the certificate, before Base64
  std::optional<std::uint32_t> handle;     // "handleProvider" of an opened session
};

// Request `index` of the host process numbered `host`; `work` is the shared
// working directory.
MixedRequest mixedRequest(int host, int index, const std::string& work);

// Empty when `body` is the answer `request` expects; otherwise what differs.
std::string answerMismatch(const MixedRequest& request, const std::string& body);
void expectAnswer(const MixedRequest& request, const std::string& body);

void expectNoSanitizerReport(const std::string& errors);

// The test double's exit record when nothing was left open.
inline constexpr char kNothingOpen[] = "exit startups=0 sessions=0 messages=0 certificates=0";
