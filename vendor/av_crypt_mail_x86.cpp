// The call routine of av_crypt_mail_x86.h. It addresses its own arguments
// through EBP and, after the call, sets ESP from EBP again: whatever the
// callee popped (stdcall pops, cdecl does not) is forgotten.
#include "vendor/av_crypt_mail.h"

#if defined(__i386__)

extern "C" __attribute__((naked)) uint32_t avcmCallKeepingStack(AvCmEntry /*entry*/,
                                                                const uint32_t* /*arguments*/,
                                                                uint32_t /*count*/) {
  __asm__(
      "pushl %ebp\n\t"
      "movl %esp, %ebp\n\t"
      "pushl %esi\n\t"
      "pushl %edi\n\t"
      "movl 16(%ebp), %ecx\n\t"  // count
      "movl 12(%ebp), %esi\n\t"  // arguments
      "leal (,%ecx,4), %eax\n\t"
      "subl %eax, %esp\n\t"
      // GCC's 32-bit code may keep SSE values on the stack: 16-byte alignment at the call.
      "andl $-16, %esp\n\t"
      "movl %esp, %edi\n\t"
      "rep movsl\n\t"
      "call *8(%ebp)\n\t"
      "leal -8(%ebp), %esp\n\t"
      "popl %edi\n\t"
      "popl %esi\n\t"
      "popl %ebp\n\t"
      "ret\n\t");
}

#endif
