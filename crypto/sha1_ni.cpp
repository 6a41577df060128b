#include "crypto/sha1_ni.h"

#include <immintrin.h>

#include "crypto/bytes.h"

#define VM_SHA_TARGET __attribute__((target("sha,sse4.1")))

namespace {

// The 80 steps in 20 groups of four. Group g consumes the message words
// 4g..4g+3 held in msg[g % 4] and, while it runs, advances the schedule of
// the words three, two and one groups ahead. `e` alternates between the two
// registers that carry E into the next group.
struct ShaNiState {
  __m128i abcd;
  __m128i e[2];
  __m128i msg[4];
};

template <int G>
VM_SHA_TARGET __attribute__((always_inline)) inline void Group(ShaNiState& s) {
  constexpr int kFunction = G / 5;
  __m128i& current = s.e[G % 2];
  if constexpr (G == 0) {
    current = _mm_add_epi32(current, s.msg[0]);
  } else {
    current = _mm_sha1nexte_epu32(current, s.msg[G % 4]);
  }
  s.e[(G + 1) % 2] = s.abcd;
  if constexpr (G >= 3 && G <= 18)
    s.msg[(G + 1) % 4] = _mm_sha1msg2_epu32(s.msg[(G + 1) % 4], s.msg[G % 4]);
  s.abcd = _mm_sha1rnds4_epu32(s.abcd, current, kFunction);
  if constexpr (G >= 1 && G <= 16)
    s.msg[(G + 3) % 4] = _mm_sha1msg1_epu32(s.msg[(G + 3) % 4], s.msg[G % 4]);
  if constexpr (G >= 2 && G <= 17)
    s.msg[(G + 2) % 4] = _mm_xor_si128(s.msg[(G + 2) % 4], s.msg[G % 4]);
}

// The groups of N independent compressions, side by side: one compression
// waits on the latency of each round instruction, N of them fill the gaps.
template <int G, int N>
VM_SHA_TARGET __attribute__((always_inline)) inline void Groups(ShaNiState (&s)[N]) {
#pragma GCC unroll 4
  for (int n = 0; n < N; ++n) Group<G>(s[n]);
  if constexpr (G < 19) Groups<G + 1, N>(s);
}

VM_SHA_TARGET inline __m128i LoadMessage(const uint8_t* bytes) {
  // Message words are big-endian; the registers hold A..D from the top lane down.
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  return _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)bytes), byteSwap);
}

// N one-block messages, each compressed from SHA-1's initial state; the
// digests are written big-endian, 20 bytes apart.
template <int N>
VM_SHA_TARGET void DigestsOfBlocks(const uint8_t* blocks, uint8_t* digests) {
  const __m128i initialAbcd =
      _mm_set_epi32(0x67452301, (int)0xEFCDAB89, (int)0x98BADCFE, 0x10325476);
  const __m128i initialE = _mm_set_epi32((int)0xC3D2E1F0, 0, 0, 0);
  ShaNiState s[N];
#pragma GCC unroll 4
  for (int n = 0; n < N; ++n) {
    s[n].abcd = initialAbcd;
    s[n].e[0] = initialE;
    s[n].e[1] = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) s[n].msg[i] = LoadMessage(blocks + 64 * n + 16 * i);
  }
  Groups<0, N>(s);
#pragma GCC unroll 4
  for (int n = 0; n < N; ++n) {
    const __m128i e = _mm_sha1nexte_epu32(s[n].e[0], initialE);
    const __m128i abcd = _mm_add_epi32(s[n].abcd, initialAbcd);
    const __m128i wordByteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    _mm_storeu_si128((__m128i*)(digests + 20 * n),
                     _mm_shuffle_epi8(_mm_shuffle_epi32(abcd, 0x1B), wordByteSwap));
    StoreBigEndian32(digests + 20 * n + 16, (uint32_t)_mm_extract_epi32(e, 3));
  }
}

}  // namespace

VM_SHA_TARGET void Sha1CompressBlocksNi(uint32_t state[5], const uint8_t* blocks,
                                        uint32_t blockCount) {
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)state), 0x1B);
  __m128i e = _mm_set_epi32((int)state[4], 0, 0, 0);
  for (; blockCount > 0; --blockCount, blocks += 64) {
    ShaNiState s[1];
    s[0].abcd = abcd;
    s[0].e[0] = e;
    s[0].e[1] = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) s[0].msg[i] = LoadMessage(blocks + 16 * i);
    Groups<0, 1>(s);
    // After group 19 the next E is in e[0]; adding the saved E completes it.
    e = _mm_sha1nexte_epu32(s[0].e[0], e);
    abcd = _mm_add_epi32(s[0].abcd, abcd);
  }
  _mm_storeu_si128((__m128i*)state, _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = (uint32_t)_mm_extract_epi32(e, 3);
}

VM_SHA_TARGET void Sha1NiDigestsOfBlocks(const uint8_t* blocks, uint32_t count, uint8_t* digests) {
  // Two side by side: more would not fit the sixteen registers that the
  // SHA instructions can name.
  constexpr uint32_t kWays = 2;
  for (; count >= kWays; count -= kWays, blocks += 64 * kWays, digests += 20 * kWays) {
    DigestsOfBlocks<kWays>(blocks, digests);
  }
  for (; count > 0; --count, blocks += 64, digests += 20) DigestsOfBlocks<1>(blocks, digests);
}
