#include "host/message_loop.h"

#include <exception>

#include "host/message_channel.h"
#include "logging/log.h"
#include "requests/processing_message.h"
#include "requests/staged_content.h"

// The loop's records speak for the process entry, as its log readers expect.
#define LOG_MAIN(severity) LOG_TAGGED(severity, "main")

namespace {

// Serves one frame whose length was already read.
void serveMessage(std::uint32_t length) {
  if (length > kMaxFrameBytes) {
    LOG_MAIN(error) << u"Message too large, skipped: " << length;
    discardMessage(length);
    return;
  }
  try {
    std::u16string message = readMessage(length);
    LOG_MAIN(debug) << u"Read message: " << message;
    std::u16string answer = processingMessage(std::move(message));
    LOG_MAIN(debug) << u"Send to browser: " << answer;
    writeMessage(answer);
  } catch (const std::exception& failure) {
    LOG_MAIN(error) << u"Message dropped: " << failure.what();
  }
}

}  // namespace

int runMessageLoop() {
  std::uint32_t length = readMessageSize();
  while (length != 0) {
    LOG_MAIN(debug) << u"Read message size: " << length;
    serveMessage(length);
    length = readMessageSize();
  }
  LOG_MAIN(debug) << u"Read message size: 0. Exit.";
  // Content staged but never signed is of no use to anyone now.
  discardAllStagedContent();
  return 0;
}
