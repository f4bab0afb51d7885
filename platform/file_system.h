#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The path separator: '\\' on Windows, '/' on POSIX.
extern const char16_t kPathSeparator;

// The user's temporary folder as UTF-16, ending in the separator. Windows:
// GetTempPathW, already per user; an empty path when the system cannot tell
// (callers then work in the current directory). POSIX: a folder private to
// the user, $XDG_RUNTIME_DIR/quorvant/ or ${TMPDIR:-/tmp}/quorvant-<uid>/,
// made with mode 0700 when missing; no value when it is not a real
// directory owned by the user and closed to others, so nothing of ours ever
// goes into a place that another user controls.
std::optional<std::u16string> temporaryPath();

// Creates one directory level (private to the user on POSIX). False when it
// was not created, an existing directory included.
bool createDirectory(const std::u16string& path);

// True when something (file or directory) exists at `path` (ANSI code page).
bool pathExists(const std::string& path);

// Removes the file at `path` (ANSI code page). False on failure.
bool removeFile(const std::string& path);

// A new file, created only if nothing exists at its path yet (a planted link
// is never followed), readable and writable by the user alone on POSIX.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();  // closes without removing
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // `path` is in the ANSI code page. False when the file could not be created.
  bool create(const std::string& path);
  // Writes all bytes. False on any failure.
  bool write(const void* data, std::size_t size);
  // False when closing reports a failure (data may not have reached the disk).
  bool close();

 private:
  std::intptr_t handle_ = -1;
};

// A file opened for reading, without locking it against others.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // `path` is UTF-16. Never blocks: false at once when the path cannot be
  // opened or is not a regular file (a FIFO, socket, device, directory, a
  // Windows console or pipe name).
  bool open(const std::u16string& path);
  // The file's size in bytes; false when it cannot be taken.
  bool size(std::uint64_t& bytes);
  // Reads up to `size` bytes, retrying short reads; returns the count read.
  std::size_t read(void* buffer, std::size_t size);
  void close();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace platform
