#include "host/message_channel.h"
#include "host/message_loop.h"
#include "logging/log.h"
#include "platform/console.h"

#ifndef QUORVANT_LOG_SEVERITY
#define QUORVANT_LOG_SEVERITY 0
#endif

int main() {
  platform::prepareStandardStreams();
  startLog(QUORVANT_LOG_SEVERITY);

  platform::NativeHandle output = platform::kInvalidHandle;
  platform::Status status = platform::saveStandardOutput(output);
  if (!status.ok()) {
    LOG_ERROR << u"Error get STD_OUTPUT_HANDLE... " << status.text();
    return 0;
  }
  setMessageOutputHandle(output);
  platform::NativeHandle error = platform::kInvalidHandle;
  status = platform::standardError(error);
  if (!status.ok()) {
    LOG_ERROR << u"Error get STD_ERROR_HANDLE... " << status.text();
    return 0;
  }
  // From here on nothing but answer frames reaches the browser's pipe: any
  // other write to standard output lands on the error stream.
  status = platform::redirectStandardOutput(error);
  if (!status.ok()) {
    LOG_ERROR << u"Error set STD_OUTPUT_HANDLE to STD_ERROR_HANDLE... " << status.text();
    return 0;
  }
  return runMessageLoop();
}
