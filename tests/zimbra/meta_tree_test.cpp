// The record parser over records shaped like real ones: string lengths in UTF-16 code units
// after the JSON escapes are undone, nested dictionaries and lists, numbers and texts, and
// what it refuses (with the reason) instead of reading past the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zimbra/invite.h"
#include "zimbra/meta_record_writer.h"
#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {
namespace {

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
