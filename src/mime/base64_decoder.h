// A base64 decoder for message parts, fed in chunks. GMime's own decoder goes a byte at a
// time and was the largest single cost of a conversion; this one decodes whole groups of
// four where the text allows and falls back to a byte at a time only around line breaks
// and stray characters.
//
// Lenient as mail needs: characters outside the alphabet are skipped, "=" ends a group
// (so concatenated encodings decode as a whole), and a group cut short at the end gives
// the bytes it holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mailvane::mime {

class Base64Decoder {
 public:
  // The most bytes Step can write for n input characters.
  static constexpr std::size_t MaxOutput(std::size_t n) { return n / 4 * 3 + 3; }

  // Decodes n characters, writing at most MaxOutput(n) bytes to out; returns how many.
  std::size_t Step(const char* in, std::size_t n, std::uint8_t* out);
  // Writes the bytes of a group left open at the end (at most 2); returns how many.
  std::size_t Finish(std::uint8_t* out);

 private:
  std::uint32_t bits_ = 0;  // the sextets of the open group
  int count_ = 0;           // how many sextets it holds (0-3)
};

}  // namespace mailvane::mime
