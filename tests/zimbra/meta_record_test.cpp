#include "zimbra/meta_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/files.h"
#include "zimbra/meta_text.h"
#include "zimbra/invite.h"
#include "zimbra/meta_record_writer.h"
#include "zimbra/meta_tree.h"

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

// The record parser over records shaped like real ones: string lengths in UTF-16 code units
// after the JSON escapes are undone, nested dictionaries and lists, numbers and texts, and
// what it refuses (with the reason) instead of reading past the end.
using ::testing::HasSubstr;
using testing::KV;
using testing::RecordLine;
using testing::S;

TEST(MetaTreeTest, ReadsBothLayersWithUtf16LengthsAndEscapes) {
  // "é" and "€" count one, the emoji two; the JSON writes "</" as "<\/" and "\n" escaped.
  const std::string metadata = "d" + S("inv0") + "d" + KV("descH", "<p>5 €</p>") +
                               KV("l", "Café 😀") + KV("n", "a:b\nc") + S("numAt") + "1:2" +
                               S("x") + "li-1ei7ee" + "e" + S("v") + "i10ee";
  const std::string line = RecordLine("/Team/", metadata, 11);
  const ParsedMetaRecord r = ParseMetaRecord("stale first line\r\n" + line + "\r\n");
  ASSERT_TRUE(r.tree) << r.failure;
  EXPECT_EQ(r.tree->Type(), 11);
  EXPECT_EQ(r.tree->Path(), "/Team/");
  const MetaNode* inv = r.tree->metadata.Find("inv0");
  ASSERT_NE(inv, nullptr);
  EXPECT_EQ(inv->Text("descH"), "<p>5 €</p>");
  EXPECT_EQ(inv->Text("l"), "Café 😀");
  EXPECT_EQ(inv->Text("n"), "a:b\nc");
  EXPECT_EQ(inv->Number("numAt"), 2);  // a count written as text
  ASSERT_EQ(inv->Find("x")->items.size(), 2u);
  EXPECT_EQ(inv->Find("x")->items[0].number, -1);
  EXPECT_EQ(r.tree->metadata.Number("v"), 10);
}

TEST(MetaTreeTest, TagNamesUndoTheirEscapes) {
  ParsedMetaRecord r = ParseMetaRecord(R"({"TagNames":"Work:fo\\:o:ba\\\\r","type":5})");
  ASSERT_TRUE(r.tree) << r.failure;
  EXPECT_EQ(r.tree->TagNames(), (std::vector<std::string>{"Work", "fo:o", "ba\\r"}));
}

TEST(MetaTreeTest, MalformedRecordsAreRefusedWithTheirReason) {
  const struct {
    std::string record;
    const char* why;
  } rows[] = {
      {"", "unexpected end"},
      {"[1,2]", "not an object"},
      {R"({"type":11,"metadata":"d1:n9:Luncheon"})", "string longer than the text"},
      {R"({"metadata":"d1:ni12e"})", "unexpected end"},
      {R"({"metadata":"d1:ni1x2ee"})", "not a number"},
      {R"({"metadata":"d1:vi10eeXX"})", "text after the end"},
      {R"({"metadata":")" + std::string(200, 'l') + R"("})", "nested too deeply"},
      {R"({"type":11,"Path":"/Calendar/")", "unexpected end"},
      {R"({"type":11} trailing)", "text after the object"},
  };
  for (const auto& row : rows) {
    const ParsedMetaRecord r = ParseMetaRecord(row.record);
    EXPECT_FALSE(r.tree) << row.record;
    EXPECT_THAT(r.failure, HasSubstr(row.why)) << row.record;
  }
}

TEST(MetaTreeTest, DurationsOfTriggers) {
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } rows[] = {{"-PT15M", -900}, {"PT1H30M", 5400}, {"-P1D", -86400}, {"P1W", 604800},
              {"PT0S", 0},      {"P1H", {}},       {"-PT", {}},      {"15M", {}}};
  for (const auto& row : rows) EXPECT_EQ(DurationSeconds(row.text), row.seconds) << row.text;
}

}  // namespace
}  // namespace mailvane::zimbra
