// SPDX-License-Identifier: MIT
// Exits 0 when the host's processor runs this program itself, not an emulator: qemu-user, which a
// kernel without IA-32 emulation may hand i386 programs to (binfmt_misc), names its processor QEMU.
#include <cpuid.h>
#include <string.h>

int main(void) {
  unsigned int brand[13] = {0};
  if (__get_cpuid_max(0x80000000u, 0) < 0x80000004u) return 0;
  for (unsigned int part = 0; part < 3; ++part)
    __get_cpuid(0x80000002u + part, &brand[4 * part], &brand[4 * part + 1], &brand[4 * part + 2], &brand[4 * part + 3]);
  return strstr((const char*)brand, "QEMU") ? 1 : 0;
}
