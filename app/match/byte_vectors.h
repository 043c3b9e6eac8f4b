#pragma once

// Looking at 16 bytes of a text at once, for the inner loops of the searches: comparisons of
// Bytes16 values give 0xFF in each byte where they hold, and these turn such results into
// bits. Where the processor has SSE2 (every x86-64), one instruction gathers the bits. The
// tests of the portable code define KBSEARCH_PORTABLE_VECTORS to leave out that, AVX2 and
// AVX-512.

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(KBSEARCH_PORTABLE_VECTORS)
#include <emmintrin.h>
#define KBSEARCH_SSE2_BYTE_BITS 1
#else
#define KBSEARCH_SSE2_BYTE_BITS 0
#endif

// On x86-64 the inner loops pass over text with AVX2 where the processor has it, and with
// AVX-512 (BW) where it has that, as __builtin_cpu_supports tells at run time. The tests of the
// AVX2 code define KBSEARCH_NO_AVX512 to leave out AVX-512.
#if defined(__x86_64__) && !defined(KBSEARCH_PORTABLE_VECTORS)
#define KBSEARCH_AVX2 1
#else
#define KBSEARCH_AVX2 0
#endif
#if KBSEARCH_AVX2 && !defined(KBSEARCH_NO_AVX512)
#define KBSEARCH_AVX512 1
#else
#define KBSEARCH_AVX512 0
#endif

namespace kb {

// 16 bytes at a time. The compiler maps this onto the machine's vector registers.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

inline Bytes16 Load16(const unsigned char* at) {
  Bytes16 bytes;
  std::memcpy(&bytes, at, sizeof bytes);
  return bytes;
}

// One bit per byte of `eight` (each 0x00 or 0xFF), bit i for the byte at address i.
inline uint32_t ByteBits(uint64_t eight) {
  if constexpr (std::endian::native == std::endian::big) eight = __builtin_bswap64(eight);
  // The multiplication gathers the top bit of byte i into bit 56 + i without carries.
  return static_cast<uint32_t>(((eight & 0x8080808080808080) * 0x0002040810204081) >> 56);
}

inline bool IsZero(Bytes16 sixteen) {
  uint64_t halves[2];
  std::memcpy(halves, &sixteen, sizeof halves);
  return (halves[0] | halves[1]) == 0;
}

inline uint32_t ByteBits(Bytes16 sixteen) {
#if KBSEARCH_SSE2_BYTE_BITS
  __m128i bytes;
  std::memcpy(&bytes, &sixteen, sizeof bytes);
  return static_cast<uint32_t>(_mm_movemask_epi8(bytes));
#else
  uint64_t halves[2];
  std::memcpy(halves, &sixteen, sizeof halves);
  return ByteBits(halves[0]) | ByteBits(halves[1]) << 8;
#endif
}

}  // namespace kb
