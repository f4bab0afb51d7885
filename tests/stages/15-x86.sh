#!/usr/bin/env bash
# 32-bit x86 Linux, every test under qemu-i386-static against the stdcall and
# cdecl doubles; no software token (i386 OpenSSL needs a foreign architecture).
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/install-packages g++-multilib qemu-user-static googletest

cmake --preset linux-x86 >/dev/null
cmake --build --preset linux-x86

# The doubles differ in who pops the arguments; the loader's path picks cdecl.
bin=build/linux-x86/bin
pops() { [[ $(objdump -d --disassemble=AvCmLogin "$1") =~ ret\ +\$0x10 ]]; }
if ! pops "$bin/libAvCryptMail.so" || pops "$bin/cdecl/libAvCryptMail.so"; then
  echo "the stdcall and cdecl test doubles are not built as such"; exit 1
fi
loaded=$(LD_LIBRARY_PATH=$bin/cdecl LD_TRACE_LOADED_OBJECTS=1 qemu-i386-static "$bin/quorvant_host")
[[ $loaded == *"$bin/cdecl/libAvCryptMail.so"* ]] || { echo "$loaded"; exit 1; }

ctest --preset linux-x86 -j2
