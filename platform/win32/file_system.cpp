#include "platform/file_system.h"

#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace platform {

namespace {

HANDLE asHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
const wchar_t* wide(const Path& path) { return reinterpret_cast<const wchar_t*>(path.c_str()); }
constexpr DWORD kMaxChunk = 0x40000000;

}  // namespace

std::optional<Path> temporaryPath() {
  wchar_t buffer[260] = {};
  DWORD length = GetTempPathW(260, buffer);
  if (length == 0 || length > 260) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

bool createDirectory(const Path& path) { return CreateDirectoryW(wide(path), nullptr) != 0; }

bool pathExists(const Path& path) {
  struct _stat64 info;
  return _wstat64(wide(path), &info) == 0;
}

bool removeFile(const Path& path) { return _wremove(wide(path)) == 0; }

NewFile::~NewFile() { close(); }

bool NewFile::create(const Path& path) {
  close();
  // CREATE_NEW never opens a file that exists; others may read and write.
  HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<NativeHandle>(file);
  return true;
}

bool NewFile::write(const void* data, std::size_t size) {
  return handle_ != kInvalidHandle && writeAll(handle_, data, size);
}

bool NewFile::close() {
  if (handle_ == kInvalidHandle) return true;
  bool closed = CloseHandle(asHandle(handle_)) != 0;
  handle_ = kInvalidHandle;
  return closed;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const Path& path) {
  close();
  // Readers and writers are not locked out, as for a runtime-library file.
  HANDLE file =
      CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // CON, NUL, COM ports and pipes open too; only a disk file is data.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return false;
  }
  handle_ = reinterpret_cast<NativeHandle>(file);
  return true;
}

bool InputFile::size(std::uint64_t& bytes) {
  LARGE_INTEGER size;
  if (handle_ == kInvalidHandle || !GetFileSizeEx(asHandle(handle_), &size) || size.QuadPart < 0)
    return false;
  bytes = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

std::size_t InputFile::read(void* buffer, std::size_t size) {
  if (handle_ == kInvalidHandle) return 0;
  char* next = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    std::size_t left = size - total;
    DWORD chunk = left > kMaxChunk ? kMaxChunk : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(asHandle(handle_), next + total, chunk, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

void InputFile::close() {
  if (handle_ == kInvalidHandle) return;
  CloseHandle(asHandle(handle_));
  handle_ = kInvalidHandle;
}

}  // namespace platform
