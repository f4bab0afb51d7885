#!/usr/bin/env bash
# The 32-bit product on this machine: the sources built for 32-bit x86 Linux
# (g++ -m32) and every test run under qemu-i386-static, the process-level
# suite against the test double with stdcall exports (bin/) and with cdecl
# exports (bin/cdecl/). No software token: OpenSSL for i386 would need a
# foreign architecture in the machine's package system.
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/install-packages g++-multilib qemu-user-static googletest

cmake --preset linux-x86 >/dev/null
cmake --build --preset linux-x86

# The two doubles really differ in who pops the arguments (stdcall returns
# from AvCmLogin with "ret $0x10"), and the loader's path really brings in
# the cdecl one.
bin=build/linux-x86/bin
pops() { [[ $(objdump -d --disassemble=AvCmLogin "$1") =~ ret\ +\$0x10 ]]; }
if ! pops "$bin/libAvCryptMail.so" || pops "$bin/cdecl/libAvCryptMail.so"; then
  echo "the stdcall and cdecl test doubles are not built as such"; exit 1
fi
loaded=$(LD_LIBRARY_PATH=$bin/cdecl LD_TRACE_LOADED_OBJECTS=1 qemu-i386-static "$bin/quorvant_host")
[[ $loaded == *"$bin/cdecl/libAvCryptMail.so"* ]] || { echo "$loaded"; exit 1; }

ctest --preset linux-x86 -j2
