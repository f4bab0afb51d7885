# The same sources as 32-bit x86 Linux programs (g++ -m32, from g++-multilib).
# This machine's kernel runs no i386 code, so the tests run them under
# qemu-user (qemu-i386-static): ctest through CMake's emulator setting, the
# process-level tests start the host through the same emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

find_program(QUORVANT_QEMU_I386 qemu-i386-static)
if(NOT QUORVANT_QEMU_I386)
  message(FATAL_ERROR "qemu-i386-static is missing: install the Debian package qemu-user-static")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVANT_QEMU_I386})

# Debian ships spdlog and fmt as 64-bit libraries only: both header-only, as
# in the Windows builds (cmake/windows/).
set(utf8cpp_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows CACHE PATH "" FORCE)
set(fmt_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows CACHE PATH "" FORCE)
set(spdlog_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows CACHE PATH "" FORCE)
