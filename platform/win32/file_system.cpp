#include "platform/file_system.h"

#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace platform {

namespace {

HANDLE asHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
const wchar_t* wide(const Path& path) { return reinterpret_cast<const wchar_t*>(path.c_str()); }
constexpr DWORD kMaxChunk = 0x40000000;

}  // namespace

Status temporaryPath(Path& path) {
  wchar_t buffer[260] = {};
  DWORD length = GetTempPathW(260, buffer);
  // Without it, the current directory serves, as it always has.
  if (length == 0 || length > 260) {
    path.clear();
  } else {
    path.assign(reinterpret_cast<const char16_t*>(buffer), length);
  }
  return {};
}

Status createDirectory(const Path& path) {
  if (CreateDirectoryW(wide(path), nullptr)) return {};
  Status status = Status::lastError("create directory", "CreateDirectoryW", path);
  const DWORD attributes = GetFileAttributesW(wide(path));
  const bool isDirectory =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return isDirectory ? Status() : status;
}

bool pathExists(const Path& path) {
  struct _stat64 info;
  return _wstat64(wide(path), &info) == 0;
}

Status removeFile(const Path& path) {
  if (DeleteFileW(wide(path))) return {};
  return Status::lastError("remove file", "DeleteFileW", path);
}

NewFile::~NewFile() { (void)close(); }

Status NewFile::create(const Path& path) {
  (void)close();
  path_ = path;
  // CREATE_NEW never opens a file that exists; others may read and write.
  HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::lastError("create file", "CreateFileW", path);
  handle_ = reinterpret_cast<NativeHandle>(file);
  return {};
}

Status NewFile::write(const void* data, std::size_t size) {
  if (handle_ == kInvalidHandle) return Status("write file", "WriteFile", path_, "not open");
  if (writeAll(handle_, data, size)) return {};
  return Status::lastError("write file", "WriteFile", path_);
}

Status NewFile::close() {
  if (handle_ == kInvalidHandle) return {};
  bool closed = CloseHandle(asHandle(handle_)) != 0;
  Status status = closed ? Status() : Status::lastError("close file", "CloseHandle", path_);
  handle_ = kInvalidHandle;
  return status;
}

InputFile::~InputFile() { close(); }

Status InputFile::open(const Path& path) {
  close();
  path_ = path;
  // Readers and writers are not locked out, as for a runtime-library file.
  HANDLE file =
      CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::lastError("open file", "CreateFileW", path);
  // CON, NUL, COM ports and pipes open too; only a disk file is data.
  const DWORD type = GetFileType(file);
  if (type != FILE_TYPE_DISK) {
    CloseHandle(file);
    return Status("open file", "GetFileType", path,
                  "not a disk file (type " + std::to_string(type) + ")");
  }
  handle_ = reinterpret_cast<NativeHandle>(file);
  return {};
}

Status InputFile::size(std::uint64_t& bytes) {
  LARGE_INTEGER size;
  if (handle_ == kInvalidHandle)
    return Status("take file size", "GetFileSizeEx", path_, "not open");
  if (!GetFileSizeEx(asHandle(handle_), &size)) {
    return Status::lastError("take file size", "GetFileSizeEx", path_);
  }
  if (size.QuadPart < 0) return Status("take file size", "GetFileSizeEx", path_, "negative size");
  bytes = static_cast<std::uint64_t>(size.QuadPart);
  return {};
}

Status InputFile::read(void* buffer, std::size_t size) {
  if (handle_ == kInvalidHandle) return Status("read file", "ReadFile", path_, "not open");
  char* next = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    std::size_t left = size - total;
    DWORD chunk = left > kMaxChunk ? kMaxChunk : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(asHandle(handle_), next + total, chunk, &got, nullptr)) {
      return Status::lastError("read file", "ReadFile", path_);
    }
    if (got == 0) {
      return Status(
          "read file", "ReadFile", path_,
          "end of file after " + std::to_string(total) + " of " + std::to_string(size) + " bytes");
    }
    total += got;
  }
  return {};
}

void InputFile::close() {
  if (handle_ == kInvalidHandle) return;
  CloseHandle(asHandle(handle_));
  handle_ = kInvalidHandle;
}

}  // namespace platform
