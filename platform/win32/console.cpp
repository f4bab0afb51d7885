#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace platform {

void prepareStandardStreams() {
  // On Windows, the default I/O mode is O_TEXT: CR-LF would be folded and
  // byte 0x1A read as end of file inside a frame. Frames are binary.
  _setmode(_fileno(stdin), _O_BINARY);
}

Status saveStandardOutput(NativeHandle& handle) {
  handle = kInvalidHandle;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == INVALID_HANDLE_VALUE) {
    return Status::lastError("save standard output", "GetStdHandle", u"STD_OUTPUT_HANDLE");
  }
  // A process without standard output has a null handle; it is kept as is.
  if (output == nullptr) {
    handle = 0;
    return {};
  }
  // A copy of our own: the runtime closes the first handle when its descriptor 1
  // is pointed at the error stream, and the answers must outlive that.
  HANDLE process = GetCurrentProcess();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(process, output, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return Status::lastError("save standard output", "DuplicateHandle", u"STD_OUTPUT_HANDLE");
  }
  handle = reinterpret_cast<NativeHandle>(copy);
  return {};
}

Status standardError(NativeHandle& handle) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  handle = reinterpret_cast<NativeHandle>(error);
  if (error != INVALID_HANDLE_VALUE) return {};
  return Status::lastError("get standard error", "GetStdHandle", u"STD_ERROR_HANDLE");
}

Status redirectStandardOutput(NativeHandle handle) {
  if (!SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(handle))) {
    return Status::lastError("redirect standard output", "SetStdHandle", u"STD_OUTPUT_HANDLE");
  }
  // The C runtime bound its own descriptor 1 to the first output handle at
  // start-up; point it at the error stream too, so printf from any code in
  // the process cannot reach the browser's pipe.
  std::fflush(stdout);
  _dup2(_fileno(stderr), _fileno(stdout));
  return {};
}

bool writeAll(NativeHandle handle, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), next, chunk, &written, nullptr)) return false;
    if (written == 0) return false;
    next += written;
    size -= written;
  }
  return true;
}

}  // namespace platform
