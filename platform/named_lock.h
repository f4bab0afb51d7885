#pragma once

#include "platform/native_handle.h"
#include "platform/status.h"

namespace platform {

// A cross-process lock known to every process by `name` (plain ASCII), held
// from construction to destruction. Waits without a time limit. When the
// lock cannot be created or taken the holder runs unlocked, and status()
// says why. A holder that dies releases the lock.
class NamedLock {
 public:
  explicit NamedLock(const char* name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Success when the lock is held.
  const Status& status() const { return status_; }

 private:
  NativeHandle handle_ = kInvalidHandle;
  Status status_;
};

}  // namespace platform
