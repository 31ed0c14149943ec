// The small pieces of the mapping whose faults would not show in a whole message:
// subject prefixes, 8.3 names, entry-ID layouts, charset fallbacks.
#include <gtest/gtest.h>

#include "mime/address_properties.h"
#include "mime/attachment_names.h"
#include "mime/charset_text.h"
#include "mime/subject_prefix.h"
#include "pst/property_tags.h"

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
  EXPECT_EQ(SafeFileName("C:\\Users\\x\\evil.exe"), "evil.exe");
  EXPECT_EQ(SafeFileName("  a\tb.txt "), "ab.txt");
  EXPECT_EQ(SafeFileName(".."), "");
  EXPECT_EQ(SafeFileName("dir/"), "");

  EXPECT_EQ(ExtensionOf("archive.tar.gz"), ".gz");
  EXPECT_EQ(ExtensionOf(".profile"), "");
  EXPECT_EQ(ExtensionOf("noext"), "");
  EXPECT_EQ(ExtensionOf("trailing."), "");

  EXPECT_EQ(ShortFileName("a.txt"), "A.TXT");
  EXPECT_EQ(ShortFileName("Quarterly report.xlsx"), "QUARTE~1.XLS");
  EXPECT_EQ(ShortFileName("été.pdf"), "T~1.PDF");
  EXPECT_EQ(ShortFileName("日本.doc"), "ATTACH~1.DOC");
  EXPECT_EQ(ShortFileName("README"), "README");
}

TEST(AddressProperties, OneOffEntryIdLayout) {
  const auto id = OneOffEntryId({"Zoë", "z@example.org"});
  const std::vector<std::uint8_t> head = {0, 0, 0, 0, 0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                          0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0, 0, 0x01, 0x90};
  ASSERT_GT(id.size(), head.size());
  EXPECT_EQ(std::vector<std::uint8_t>(id.begin(), id.begin() + 24), head);
  // Display name, "SMTP" and the address, each UTF-16LE with a NUL.
  std::u16string rest;
  for (std::size_t i = 24; i + 1 < id.size(); i += 2) rest += static_cast<char16_t>(id[i] | id[i + 1] << 8);
  EXPECT_EQ(rest, std::u16string(u"Zoë\0SMTP\0z@example.org\0", 23));
  EXPECT_EQ(id.size() % 2, 0u);

  // Without a name the address is shown.
  const auto bare = OneOffEntryId({"", "a@b"});
  EXPECT_EQ(bare.size(), 24u + 2 * (4 + 5 + 4));

  EXPECT_EQ(SmtpSearchKey("Mixed.Case@Example.org"),
            (std::vector<std::uint8_t>{'S', 'M', 'T', 'P', ':', 'M', 'I', 'X', 'E', 'D', '.', 'C', 'A', 'S',
                                       'E', '@', 'E', 'X', 'A', 'M', 'P', 'L', 'E', '.', 'O', 'R', 'G', 0}));
}

TEST(AddressProperties, FlatEntryListPadsEachEntry) {
  const std::vector<Mailbox> boxes = {{"", "a@b"}, {"Name", "n@example.org"}};
  const auto list = FlatEntryList(boxes);
  auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(list[at] | list[at + 1] << 8 | list[at + 2] << 16 | list[at + 3] << 24);
  };
  ASSERT_GE(list.size(), 8u);
  EXPECT_EQ(le32(0), 2u);
  EXPECT_EQ(le32(4), list.size() - 8);
  std::size_t at = 8;
  for (const auto& m : boxes) {
    const auto id = OneOffEntryId(m);
    EXPECT_EQ(le32(at), id.size());
    EXPECT_TRUE(std::equal(id.begin(), id.end(), list.begin() + static_cast<std::ptrdiff_t>(at + 4)));
    at += 4 + (id.size() + 3) / 4 * 4;
  }
  EXPECT_EQ(at, list.size());
}

TEST(CharsetText, FallbacksAndCodePages) {
  EXPECT_EQ(DecodeToUtf8("\xE9t\xE9", "ISO-8859-1").utf8, "été");
  EXPECT_FALSE(DecodeToUtf8("\xE9t\xE9", "ISO-8859-1").fell_back);
  EXPECT_EQ(DecodeToUtf8("\xA4", "iso-8859-15").utf8, "€");
  EXPECT_EQ(DecodeToUtf8("caf\xC3\xA9", "us-ascii").utf8, "café");  // mislabelled UTF-8

  const DecodedText unknown = DecodeToUtf8("\x80 \x81", "x-klingon");
  EXPECT_TRUE(unknown.fell_back);
  EXPECT_EQ(unknown.utf8, "€ \xC2\x81");
  EXPECT_TRUE(DecodeToUtf8("\xFF\xFE", "utf-8").fell_back);
  EXPECT_EQ(DecodeToUtf8("\xFF\xFE", "utf-8").utf8, "ÿþ");
  // A truncated multi-byte sequence at the end does not fit the charset either.
  EXPECT_TRUE(DecodeToUtf8("\x82", "shift_jis").fell_back);

  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));

  EXPECT_EQ(CodePageOfCharset("UTF-8"), 65001);
  EXPECT_EQ(CodePageOfCharset("Windows-1252"), 1252);
  EXPECT_EQ(CodePageOfCharset("x-unknown"), 0);
}

}  // namespace
}  // namespace mailvane::mime
