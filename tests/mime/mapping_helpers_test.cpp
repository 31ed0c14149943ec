// The small pieces of the mapping whose faults would not show in a whole message:
// subject prefixes, 8.3 names, entry-ID layouts, charset fallbacks.
#include <gtest/gtest.h>

#include "base/utf.h"
#include "mime/address_properties.h"
#include "mime/attachment_names.h"
#include "mime/charset_text.h"
#include "mime/subject_prefix.h"
#include "pst/messaging/property_tags.h"
#include <gmime/gmime.h>
#include <random>
#include <string>
#include <vector>
#include "mime/base64_decoder.h"

namespace mailvane::mime {
namespace {

TEST(SubjectPrefix, OneToThreeCharactersBeforeAColon) {
  const struct {
    const char* subject;
    const char* prefix;
    const char* normalized;
  } cases[] = {
      {"RE: hello", "RE: ", "hello"},
      {"Fwd:hello", "Fwd: ", "hello"},        // stored with ": " even when sent without
      {"AW:    spaced", "AW: ", "spaced"},
      {"Réf: x", "Réf: ", "x"},               // characters, not bytes
      {"Ответ: x", "", "Ответ: x"},  // five characters: no prefix
      {"Re: Re: twice", "Re: ", "Re: twice"},
      {"Fwd2: x", "", "Fwd2: x"},
      {"Meeting at 10:30", "", "Meeting at 10:30"},
      {"A B: x", "", "A B: x"},
      {": x", "", ": x"},
      {"", "", ""},
      {"Re:", "Re: ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.subject);
    const SplitSubject s = SplitSubjectPrefix(c.subject);
    EXPECT_EQ(s.prefix, c.prefix);
    EXPECT_EQ(s.normalized, c.normalized);
  }
}

TEST(AttachmentNames, SafeNamesExtensionsAndShortNames) {
  const std::pair<const char*, const char*> safe[] = {
      {"C:\\Users\\x\\evil.exe", "evil.exe"}, {"  a\tb.txt ", "ab.txt"}, {"..", ""}, {"dir/", ""}};
  for (const auto& [given, name] : safe) EXPECT_EQ(SafeFileName(given), name) << given;
  const std::pair<const char*, const char*> extensions[] = {
      {"archive.tar.gz", ".gz"}, {".profile", ""}, {"noext", ""}, {"trailing.", ""}};
  for (const auto& [name, extension] : extensions) EXPECT_EQ(ExtensionOf(name), extension) << name;
  const std::pair<const char*, const char*> short_names[] = {
      {"a.txt", "A.TXT"}, {"Quarterly report.xlsx", "QUARTE~1.XLS"}, {"été.pdf", "T~1.PDF"},
      {"日本.doc", "ATTACH~1.DOC"}, {"README", "README"}};
  for (const auto& [name, short_name] : short_names) EXPECT_EQ(ShortFileName(name), short_name) << name;
}

// The one-off entry ID of MS-OXCDATA 2.2.5.1: flags, the one-off provider's UID, version
// and flags, then display name, "SMTP" and the address, each UTF-16LE with a NUL.
TEST(AddressProperties, OneOffEntryIdLayout) {
  const auto id = OneOffEntryId({"Zoë", "z@example.org"});
  const std::vector<std::uint8_t> head = {0, 0, 0, 0, 0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                          0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0, 0, 0x01, 0x90};
  ASSERT_GT(id.size(), head.size());
  EXPECT_EQ(std::vector<std::uint8_t>(id.begin(), id.begin() + 24), head);
  std::u16string rest;
  for (std::size_t i = 24; i + 1 < id.size(); i += 2) rest += static_cast<char16_t>(id[i] | id[i + 1] << 8);
  EXPECT_EQ(rest, std::u16string(u"Zoë\0SMTP\0z@example.org\0", 23));
  EXPECT_EQ(id.size() % 2, 0u);
}

TEST(CharsetText, FallbacksAndCodePages) {
  const struct {
    std::string bytes, charset, utf8;
    bool fell_back;
  } rows[] = {
      {"\xE9t\xE9", "ISO-8859-1", "été", false},
      {"\xA4", "iso-8859-15", "€", false},
      {"caf\xC3\xA9", "us-ascii", "café", false},  // mislabelled UTF-8
      {"\x80 \x81", "x-klingon", "€ \xC2\x81", true},
      {"\xFF\xFE", "utf-8", "ÿþ", true},
  };
  for (const auto& row : rows) {
    const DecodedText d = DecodeToUtf8(row.bytes, row.charset);
    EXPECT_EQ(d.utf8, row.utf8) << row.charset;
    EXPECT_EQ(d.fell_back, row.fell_back) << row.charset;
  }
  // A truncated multi-byte sequence at the end does not fit the charset either.
  EXPECT_TRUE(DecodeToUtf8("\x82", "shift_jis").fell_back);
  // Overlong, surrogate, past U+10FFFF; and a real four-byte character.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) EXPECT_FALSE(base::IsValidUtf8(bad));
  EXPECT_TRUE(base::IsValidUtf8("\xF0\x9F\x98\x80"));
  EXPECT_EQ(CodePageOfCharset("UTF-8"), 65001);
  EXPECT_EQ(CodePageOfCharset("Windows-1252"), 1252);
  EXPECT_EQ(CodePageOfCharset("x-unknown"), 0);
}

// The base64 decoder against GMime's on well-formed text split at every kind of chunk
// boundary, and on the malformed text real mail carries.
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
