#include "zimbra/meta_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/files.h"
#include "zimbra/meta_text.h"

namespace mailvane::zimbra {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class MetaFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    return folder_.Write("r" + std::to_string(files_++) + ".meta", bytes);
  }
  std::string Read(const std::string& bytes) {
    const auto record = ReadMetaRecord(Write(bytes));
    EXPECT_EQ(record.failure, "");
    return ToUtf8(record.text);
  }

  testsupport::ScratchDir folder_{"meta"};
  int files_ = 0;
};

TEST_F(MetaFile, OnlyTheLastLineCounts) {
  EXPECT_EQ(Read("one line, no line end"), "one line, no line end");
  EXPECT_EQ(Read("record\r\n"), "record");
  EXPECT_EQ(Read("record\r"), "record");
  EXPECT_EQ(Read("first\r\nsecond\rthird"), "third");
  EXPECT_EQ(Read("first\r\nlast\r\n"), "last");
  // A trailing empty line is the last line.
  EXPECT_EQ(Read("record\r\n\r\n"), "");
  EXPECT_EQ(Read("record\r\r"), "");
  EXPECT_EQ(Read(""), "");
  // A line feed alone ends no line: the whole file is one text.
  EXPECT_EQ(Read("a/Calendar/x\nb\n"), "a/Calendar/x\nb\n");
  // A marker on an earlier line is not seen.
  const auto text = ReadMetaRecord(Write("x/Tasks/1:n\r\nno marker here")).text;
  EXPECT_EQ(MetaSection(text, "/Tasks/"), std::nullopt);
}

TEST_F(MetaFile, TextIsDecodedAndUnescaped) {
  // Raw UTF-8 and JSON escapes, including a surrogate pair and U+20AC as org.json writes it.
  EXPECT_EQ(
      Read("Caf\xC3\xA9 \\u20ac \\ud83d\\ude00 \\\"q\\\" a\\\\b <\\/div> 1\\n2\\r3\\t4\\b\\f"),
      "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \"q\" a\\b </div> 1\n2\r3\t4\b\f");
  // Bytes that are not UTF-8 are Windows-1252, next to well-formed UTF-8.
  EXPECT_EQ(Read("Caf\xE9 \x80 \xC3\xA9 \x93x\x94 \xC3"),
            "Caf\xC3\xA9 \xE2\x82\xAC \xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D \xC3\x83");
  // Overlong forms and encoded surrogates are not UTF-8 either.
  EXPECT_EQ(Read("\xC0\xAF|\xED\xA0\x80"), "\xC3\x80\xC2\xAF|\xC3\xAD\xC2\xA0\xE2\x82\xAC");
  // What is not an escape stays as it was.
  EXPECT_EQ(Read("\\x \\u12G4 end\\"), "\\x \\u12G4 end\\");
}

TEST_F(MetaFile, UnreadableFilesGiveEmptyTextAndAReason) {
  const std::string missing = (folder_ / "missing.meta").string();
  const auto gone = ReadMetaRecord(missing);
  EXPECT_THAT(gone.text, IsEmpty());
  EXPECT_THAT(gone.failure, HasSubstr(missing));
  EXPECT_THAT(gone.failure, HasSubstr("No such file"));

  const auto folder = ReadMetaRecord(folder_.path().string());
  EXPECT_THAT(folder.text, IsEmpty());
  EXPECT_THAT(folder.failure, HasSubstr("Is a directory"));

  // Spaces around the path are not part of it.
  const std::string path = Write("x");
  const auto spaced = ReadMetaRecord("  " + path + " ");
  EXPECT_EQ(spaced.failure, "");
  EXPECT_EQ(ToUtf8(spaced.text), "x");
}

TEST(MetaSection, CutsBetweenTheFirstTwoMarkers) {
  EXPECT_EQ(MetaSection(u"a/Tasks/b/Tasks/c/Tasks/d", "/Tasks/"), u"b");
  EXPECT_EQ(MetaSection(u"a/Tasks/bc", "/Tasks/"), u"bc");
  EXPECT_EQ(MetaSection(u"a/Tasks/", "/Tasks/"), u"");
  EXPECT_EQ(MetaSection(u"a/tasks/b", "/Tasks/"), std::nullopt);
  EXPECT_EQ(MetaSection(u"", "d3:fldd"), std::nullopt);
  EXPECT_EQ(MetaSection(u"abc", ""), std::nullopt);
}

}  // namespace
}  // namespace mailvane::zimbra
