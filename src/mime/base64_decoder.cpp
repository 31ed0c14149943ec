#include "mime/base64_decoder.h"

#include <array>

namespace mailvane::mime {
namespace {

constexpr std::uint8_t kSkip = 0xFF;
constexpr std::uint8_t kPad = 0xFE;

constexpr std::array<std::uint8_t, 256> MakeRanks() {
  std::array<std::uint8_t, 256> r{};
  for (auto& v : r) v = kSkip;
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) r[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
  r['='] = kPad;
  return r;
}

constexpr std::array<std::uint8_t, 256> kRank = MakeRanks();

// The bytes of a group of `count` sextets held right-aligned in `bits` (2 gives 1 byte,
// 3 gives 2; a lone sextet holds no whole byte).
std::size_t FlushGroup(std::uint32_t bits, int count, std::uint8_t* out) {
  if (count == 2) {
    out[0] = static_cast<std::uint8_t>(bits >> 4);
    return 1;
  }
  if (count == 3) {
    out[0] = static_cast<std::uint8_t>(bits >> 10);
    out[1] = static_cast<std::uint8_t>(bits >> 2);
    return 2;
  }
  return 0;
}

}  // namespace

std::size_t Base64Decoder::Step(const char* in, std::size_t n, std::uint8_t* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(in);
  const auto* end = p + n;
  std::uint8_t* o = out;
  while (p < end) {
    if (count_ == 0) {
      // Whole groups of four alphabet characters: the usual case inside a line.
      while (end - p >= 4) {
        const std::uint32_t a = kRank[p[0]], b = kRank[p[1]], c = kRank[p[2]], d = kRank[p[3]];
        if ((a | b | c | d) & 0xC0) break;
        const std::uint32_t v = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
        o += 3;
        p += 4;
      }
      if (p == end) break;
    }
    const std::uint8_t r = kRank[*p++];
    if (r == kSkip) continue;
    if (r == kPad) {
      o += FlushGroup(bits_, count_, o);
      bits_ = 0;
      count_ = 0;
      continue;
    }
    bits_ = bits_ << 6 | r;
    if (++count_ == 4) {
      o[0] = static_cast<std::uint8_t>(bits_ >> 16);
      o[1] = static_cast<std::uint8_t>(bits_ >> 8);
      o[2] = static_cast<std::uint8_t>(bits_);
      o += 3;
      bits_ = 0;
      count_ = 0;
    }
  }
  return static_cast<std::size_t>(o - out);
}

std::size_t Base64Decoder::Finish(std::uint8_t* out) {
  const std::size_t n = FlushGroup(bits_, count_, out);
  bits_ = 0;
  count_ = 0;
  return n;
}

}  // namespace mailvane::mime
