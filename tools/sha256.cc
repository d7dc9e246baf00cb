// SHA-256, for the digests that `show` prints of binary values. Pictures
// make hashing most of the work of a library scan, so processors with the
// SHA extensions use them.
#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define TAGKIT_SHA_EXTENSIONS 1
#endif

#include "cli.h"

namespace tagkit_cli {
namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(std::uint32_t state[8], const unsigned char block[64]) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
           (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t t1 =
        h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
  }
  state[0] += a, state[1] += b, state[2] += c, state[3] += d;
  state[4] += e, state[5] += f, state[6] += g, state[7] += h;
}

void CompressBlocks(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
  for (std::size_t i = 0; i < blocks; ++i) Compress(state, data + 64 * i);
}

#if defined(TAGKIT_SHA_EXTENSIONS)
// The same rounds with the SHA extensions: each sha256rnds2 does two rounds
// on the state split as ABEF and CDGH; msg1 and msg2 extend the schedule.
__attribute__((target("sha,sse4.1"))) void CompressBlocksSha(std::uint32_t state[8],
                                                             const unsigned char* data,
                                                             std::size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (std::size_t block = 0; block < blocks; ++block, data += 64) {
    const __m128i abef_before = abef, cdgh_before = cdgh;
    __m128i w[4];
    for (int i = 0; i < 16; ++i) {
      __m128i words;
      if (i < 4) {
        words = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
      } else {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four at a time.
        words = _mm_sha256msg1_epu32(w[i & 3], w[(i - 3) & 3]);
        words = _mm_add_epi32(words, _mm_alignr_epi8(w[(i - 1) & 3], w[(i - 2) & 3], 4));
        words = _mm_sha256msg2_epu32(words, w[(i - 1) & 3]);
      }
      w[i & 3] = words;
      __m128i sums = _mm_add_epi32(
          words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sums);
      sums = _mm_shuffle_epi32(sums, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, sums);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}

bool HasShaExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_SSE4_1) == 0 || (c & bit_SSSE3) == 0) {
    return false;
  }
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  return (b & (1u << 29)) != 0;  // SHA
}
#endif

using BlockFunction = void (*)(std::uint32_t*, const unsigned char*, std::size_t);

// The extensions are used only when the processor has them and they agree
// with the portable rounds on a test block.
BlockFunction ChooseBlocks() {
#if defined(TAGKIT_SHA_EXTENSIONS)
  if (HasShaExtensions()) {
    unsigned char block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<unsigned char>(i * 37 + 11);
    std::uint32_t portable[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint32_t fast[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CompressBlocks(portable, block, 1);
    CompressBlocksSha(fast, block, 1);
    if (std::memcmp(portable, fast, sizeof fast) == 0) return CompressBlocksSha;
  }
#endif
  return CompressBlocks;
}

}  // namespace

std::string Sha256Hex(const unsigned char* data, std::size_t size) {
  std::uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static const BlockFunction compress_blocks = ChooseBlocks();
  const std::size_t done = size / 64 * 64;
  compress_blocks(state, data, size / 64);
  // The tail, the 0x80 marker and the bit length fill one or two blocks.
  unsigned char tail[128] = {};
  const std::size_t rest = size - done;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = data[done + i];
  tail[rest] = 0x80;
  const std::size_t blocks = rest < 56 ? 1 : 2;
  const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  for (int i = 0; i < 8; ++i) {
    tail[blocks * 64 - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  compress_blocks(state, tail, blocks);
  unsigned char digest[32];
  for (int i = 0; i < 8; ++i) {
    for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<unsigned char>(state[i] >> (24 - 8 * k));
  }
  return Hex(digest, sizeof digest);
}

}  // namespace tagkit_cli
