#include "platform/file_system.h"

#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace platform {

namespace {

HANDLE asHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
constexpr DWORD kMaxChunk = 0x40000000;

}  // namespace

const char16_t kPathSeparator = u'\\';

std::optional<std::u16string> temporaryPath() {
  wchar_t buffer[260] = {};
  DWORD length = GetTempPathW(260, buffer);
  if (length == 0 || length > 260) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

bool createDirectory(const std::u16string& path) {
  return CreateDirectoryW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr) != 0;
}

bool pathExists(const std::string& path) {
  struct _stat64 info;
  return _stat64(path.c_str(), &info) == 0;
}

bool removeFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

NewFile::~NewFile() { close(); }

bool NewFile::create(const std::string& path) {
  close();
  // CREATE_NEW never opens a file that exists; others may read and write.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool NewFile::write(const void* data, std::size_t size) {
  return handle_ != -1 && writeAll(handle_, data, size);
}

bool NewFile::close() {
  if (handle_ == -1) return true;
  bool closed = CloseHandle(asHandle(handle_)) != 0;
  handle_ = -1;
  return closed;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::u16string& path) {
  close();
  // Readers and writers are not locked out, as for a runtime-library file.
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // CON, NUL, COM ports and pipes open too; only a disk file is data.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool InputFile::size(std::uint64_t& bytes) {
  LARGE_INTEGER size;
  if (handle_ == -1 || !GetFileSizeEx(asHandle(handle_), &size) || size.QuadPart < 0) return false;
  bytes = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

std::size_t InputFile::read(void* buffer, std::size_t size) {
  if (handle_ == -1) return 0;
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
  if (handle_ == -1) return;
  CloseHandle(asHandle(handle_));
  handle_ = -1;
}

}  // namespace platform
