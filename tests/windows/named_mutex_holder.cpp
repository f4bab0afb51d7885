// Test helper for the tests under Wine: takes the named mutex given as its
// argument, writes the line "held" to standard output, and holds the
// mutex until its standard input ends. Exit code 2 when it cannot take it.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[1]);
  if (mutex == nullptr) return 2;
  DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return 2;
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  char buffer[256];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}
