// The base64 decoder against GMime's on well-formed text split at every kind of chunk
// boundary, and on the malformed text real mail carries.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mime/base64_decoder.h"

namespace mailvane::mime {
namespace {

std::string Decode(const std::string& text, std::size_t chunk) {
  Base64Decoder d;
  std::string out;
  std::vector<std::uint8_t> buf(Base64Decoder::MaxOutput(chunk));
  for (std::size_t at = 0; at < text.size(); at += chunk) {
    const std::size_t n = std::min(chunk, text.size() - at);
    const std::size_t m = d.Step(text.data() + at, n, buf.data());
    EXPECT_LE(m, Base64Decoder::MaxOutput(n));
    out.append(reinterpret_cast<const char*>(buf.data()), m);
  }
  out.append(reinterpret_cast<const char*>(buf.data()), d.Finish(buf.data()));
  return out;
}

std::string Encode(const std::string& bytes, std::size_t line, const char* eol) {
  char* raw = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string flat(raw), out;
  g_free(raw);
  for (std::size_t at = 0; at < flat.size(); at += line) out += flat.substr(at, line) + eol;
  return out;
}

TEST(Base64Decoder, DecodesWhatWasEncodedWhateverTheChunksAndLines) {
  std::mt19937 rng(7);
  for (std::size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 57u, 58u, 1000u, 70001u}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    for (const char* eol : {"\n", "\r\n"}) {
      for (std::size_t line : {4u, 72u, 76u, 77u}) {
        const std::string text = Encode(bytes, line, eol);
        for (std::size_t chunk : {1u, 3u, 5u, 4096u, 32768u}) {
          ASSERT_EQ(Decode(text, chunk), bytes) << size << " " << line << " " << chunk;
        }
      }
    }
  }
}

TEST(Base64Decoder, MalformedTextGivesWhatCanBeRead) {
  // Stray characters are skipped, "=" ends a group and decoding goes on after it.
  EXPECT_EQ(Decode("QU*JD\t!", 32), "ABC");
  EXPECT_EQ(Decode("QQ==QkM=", 32), "ABC");
  EXPECT_EQ(Decode("QQ==QkM=", 1), "ABC");
  // A group cut short at the end keeps its whole bytes; a lone sextet holds none.
  EXPECT_EQ(Decode("QUJDRA", 32), "ABCD");
  EXPECT_EQ(Decode("QUJDR", 32), "ABC");
  EXPECT_EQ(Decode("====\n\n", 32), "");
  EXPECT_EQ(Decode(std::string("QU\0JD", 5), 32), "ABC");
}

}  // namespace
}  // namespace mailvane::mime
