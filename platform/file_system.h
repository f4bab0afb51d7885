#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/native_handle.h"

namespace platform {

// A file system path as the system's file calls take it: UTF-16 on Windows,
// where every file call is a wide one, and bytes (UTF-8) on POSIX. text/
// converts request text to and from it.
// kPathSeparator is '\\' on Windows, '/' on POSIX.
#ifdef _WIN32
using Path = std::u16string;
inline constexpr char16_t kPathSeparator = u'\\';
#else
using Path = std::string;
inline constexpr char kPathSeparator = '/';
#endif

// The user's temporary folder, ending in the separator. Windows:
// GetTempPathW, already per user; an empty path when the system cannot tell
// (callers then work in the current directory). POSIX: a folder private to
// the user, $XDG_RUNTIME_DIR/quorvant/ or ${TMPDIR:-/tmp}/quorvant-<uid>/,
// made with mode 0700 when missing; no value when it is not a real
// directory owned by the user and closed to others, so nothing of ours ever
// goes into a place that another user controls.
std::optional<Path> temporaryPath();

// Creates one directory level (private to the user on POSIX). False when it
// was not created, an existing directory included.
// Failures of the calls below leave their cause for lastErrorText().
bool createDirectory(const Path& path);

// True when something (file or directory) exists at `path`.
bool pathExists(const Path& path);

// Removes the file at `path`. False on failure.
bool removeFile(const Path& path);

// A new file, created only if nothing exists at its path yet (a planted link
// is never followed), readable and writable by the user alone on POSIX.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();  // closes without removing
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // False when the file could not be created.
  bool create(const Path& path);
  // Writes all bytes. False on any failure.
  bool write(const void* data, std::size_t size);
  // False when closing reports a failure (data may not have reached the disk).
  bool close();

 private:
  NativeHandle handle_ = kInvalidHandle;
};

// A file opened for reading, without locking it against others.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Never blocks: false at once when the path cannot be
  // opened or is not a regular file (a FIFO, socket, device, directory, a
  // Windows console or pipe name).
  bool open(const Path& path);
  // The file's size in bytes; false when it cannot be taken.
  bool size(std::uint64_t& bytes);
  // Reads up to `size` bytes, retrying short reads; returns the count read.
  std::size_t read(void* buffer, std::size_t size);
  void close();

 private:
  NativeHandle handle_ = kInvalidHandle;
};

}  // namespace platform
