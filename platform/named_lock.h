#pragma once

#include "platform/native_handle.h"

namespace platform {

// A cross-process lock known to every process by `name` (plain ASCII), held
// from construction to destruction. Waits without a time limit. Failing to
// create or take the lock is not reported: the holder then runs unlocked.
// A holder that dies releases the lock.
class NamedLock {
 public:
  explicit NamedLock(const char* name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

 private:
  NativeHandle handle_ = kInvalidHandle;
};

}  // namespace platform
