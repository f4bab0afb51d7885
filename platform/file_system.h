#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/native_handle.h"
#include "platform/path.h"
#include "platform/status.h"

namespace platform {

// Every failure below is returned as a Status that names its cause.

// Sets `path` to the user's temporary folder, ending in the separator.
// Windows: GetTempPathW, already per user; an empty path when the system
// cannot tell (callers then work in the current directory), still a success.
// POSIX: a folder private to the user, $XDG_RUNTIME_DIR/quorvant/ or
// ${TMPDIR:-/tmp}/quorvant-<uid>/, made with mode 0700 when missing; a
// failure (naming the check that failed) with `path` empty when it is not a
// real directory owned by the user and closed to others, so nothing of ours
// ever goes into a place that another user controls.
Status temporaryPath(Path& path);

// Creates one directory level (private to the user on POSIX). A directory
// that exists already is a success.
Status createDirectory(const Path& path);

// True when something (file or directory) exists at `path`.
bool pathExists(const Path& path);

// Removes the file at `path`.
Status removeFile(const Path& path);

// A new file, created only if nothing exists at its path yet (a planted link
// is never followed), readable and writable by the user alone on POSIX.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();  // closes without removing
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  Status create(const Path& path);
  // Writes all bytes.
  Status write(const void* data, std::size_t size);
  // A failure here may mean that the data never reached the disk.
  Status close();

 private:
  NativeHandle handle_ = kInvalidHandle;
  Path path_;  // for the statuses
};

// A file opened for reading, without locking it against others.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Never blocks: fails at once when the path cannot be opened or is not a
  // regular file (a FIFO, socket, device, directory, a Windows console or
  // pipe name).
  Status open(const Path& path);
  // The file's size in bytes.
  Status size(std::uint64_t& bytes);
  // Reads exactly `size` bytes, retrying short reads; fails when the file
  // ends or a read fails first.
  Status read(void* buffer, std::size_t size);
  void close();

 private:
  NativeHandle handle_ = kInvalidHandle;
  Path path_;  // for the statuses
};

}  // namespace platform
