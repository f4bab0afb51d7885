// Test helper for the tests under Wine: takes the named mutex whose name is
// the first line of its input, answers with the frame "held" and holds the
// mutex until its input ends. Exit code 2 when it cannot take it.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  char name[256] = {};
  if (std::fgets(name, sizeof name, stdin) == nullptr) return 2;
  name[std::strcspn(name, "\r\n")] = '\0';
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return 2;
  std::fwrite("\x04\0\0\0held", 1, 8, stdout);
  std::fflush(stdout);
  char buffer[256];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}
