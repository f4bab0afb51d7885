#include "platform/named_lock.h"

#include <windows.h>

#include <string>

namespace platform {

namespace {

Status takeLock(const char* name, NativeHandle& handle) {
  // The names are plain ASCII: each byte is its own UTF-16 unit.
  std::u16string wideName(name, name + std::char_traits<char>::length(name));
  HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(wideName.c_str()));
  if (mutex == nullptr) return Status::lastError("take lock", "CreateMutexW", wideName);
  // An abandoned mutex (its holder died) is owned by us all the same.
  DWORD result = WaitForSingleObject(mutex, INFINITE);
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
    Status status = result == WAIT_FAILED
                        ? Status::lastError("take lock", "WaitForSingleObject", wideName)
                        : Status("take lock", "WaitForSingleObject", wideName,
                                 "wait result " + std::to_string(result));
    CloseHandle(mutex);
    return status;
  }
  handle = reinterpret_cast<NativeHandle>(mutex);
  return {};
}

}  // namespace

NamedLock::NamedLock(const char* name) : status_(takeLock(name, handle_)) {}

NamedLock::~NamedLock() {
  if (handle_ == kInvalidHandle) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace platform
