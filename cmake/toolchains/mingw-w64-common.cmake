# Shared part of the MinGW-w64 toolchains. The including file sets
# QUORVANT_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# Debian's posix thread model: std::thread and std::mutex work, backed by
# winpthreads, which is linked statically like the rest of the runtime.
set(CMAKE_C_COMPILER ${QUORVANT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVANT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVANT_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${QUORVANT_MINGW_TRIPLET}-dlltool CACHE FILEPATH "dlltool of the target")

# Only the MinGW sysroot is searched for libraries and headers: nothing of
# the build machine's /usr/include or /usr/lib may reach a Windows binary.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVANT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The header-only libraries come from their Debian packages through package
# files of our own that expose those headers alone (see cmake/windows/).
set(utf8cpp_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows CACHE PATH "" FORCE)
set(fmt_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows CACHE PATH "" FORCE)
set(spdlog_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows CACHE PATH "" FORCE)

# The executable and the DLLs carry their runtime (libgcc, libstdc++,
# winpthreads) inside, so they run on a Windows machine without MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
