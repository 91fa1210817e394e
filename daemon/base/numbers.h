// Number conversions of the command line, with the C library's documented
// behaviour written out so that glibc and MinGW builds agree.
#pragma once

#include <cstdint>

namespace qx {

// atoi: optional leading white space and sign, then decimal digits up to the
// first non-digit; no digits give 0; values beyond the 32-bit range saturate.
int32_t ParseDecimal(const char* text);

// strtoul with base 0: optional white space and sign, "0x"/"0X" hexadecimal,
// a leading 0 octal, else decimal; a minus sign negates modulo 2^32; overflow
// saturates at 0xFFFFFFFF; no digits give 0.
uint32_t ParseUnsignedAuto(const char* text);

}  // namespace qx
