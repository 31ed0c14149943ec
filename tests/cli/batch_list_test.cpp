// The list of a batch read line by line, the names its mailboxes get, and the shards that
// split it: every position taken by exactly one shard.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/batch_list.h"
#include "cli/batch_record.h"
#include "cli/pst_names.h"
#include "support/files.h"

namespace mailvane::testing {
namespace {

using ::testing::HasSubstr;

TEST(BatchListTest, NamesComeFromTheSourceOrTheLine) {
  struct Case {
    std::string given;
    bool default_name;  // taken from a source path rather than given after a tab
    std::string name;   // "" when refused
  };
  const Case cases[] = {
      {"/exports/alice@example.com.tgz", true, "alice@example.com.pst"},
      {"/exports/bob.TAR.GZ", true, "bob.pst"},
      {"/exports/carol.zip", true, "carol.pst"},
      {"/exports/dave@example.com/", true, "dave@example.com.pst"},
      {"/exports/.tgz", true, ".tgz.pst"},  // the ending alone is the name
      {"/", true, ""},
      {"Eve", false, "Eve.pst"},
      {"Eve.PST", false, "Eve.PST"},
      {".pst", false, ""},
      {"a/b", false, ""},
      {"..", false, ""},
      {std::string(252, 'x'), false, ""},  // no room for ".pst" under 255 bytes
  };
  for (const Case& c : cases) {
    std::string why;
    const std::string name = c.default_name ? cli::DefaultPstName(c.given, why)
                                            : cli::PstFileName(c.given, why);
    EXPECT_EQ(name, c.name) << c.given;
    EXPECT_EQ(why.empty(), !c.name.empty()) << c.given << ": " << why;
  }
}

TEST(BatchListTest, EveryLineIsReadAndOnlyItsOwnErrorsStopIt) {
  testsupport::ScratchDir dir("batch-list");
  const std::string a = dir.Write("a/x.eml");
  const std::string b = dir.Write("b.tgz");
  std::istringstream list("\xEF\xBB\xBF# comment\n\n" + dir.path().string() + "/a\r\n" + b + "\tB\n" +
                          (dir.path() / "gone").string() + "\n" + b + "\ta\n\tname\n");
  const std::vector<cli::BatchEntry> entries = cli::ReadBatchList(list);
  ASSERT_EQ(entries.size(), 5u);
  const std::pair<std::string, std::string> expected[] = {
      {"a.pst", ""}, {"B.pst", ""}, {"gone.pst", "cannot read"},
      {"a.pst", "a.pst is already the name of line 3"}, {"", "no source before the tab"}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].position, static_cast<int>(i) + 1);
    EXPECT_EQ(entries[i].name, expected[i].first) << i;
    if (expected[i].second.empty()) {
      EXPECT_EQ(entries[i].error, "") << i;
    } else {
      EXPECT_THAT(entries[i].error, HasSubstr(expected[i].second)) << i;
    }
  }
  EXPECT_EQ(entries[0].line, 3);
  EXPECT_EQ(entries[0].source, dir.path().string() + "/a");
}

TEST(BatchListTest, ShardsTakeEveryPositionExactlyOnce) {
  for (const char* bad : {"", "1", "0/0", "3/2", "-1/2", "1/2x", "a/b", "/2", "1/"}) {
    cli::Shard shard;
    EXPECT_NE(cli::ParseShard(bad, shard), "") << bad;
  }
  for (int n : {1, 2, 3, 7}) {
    for (bool zero_based : {false, true}) {
      std::vector<int> takers(50, 0);
      for (int k = zero_based ? 0 : 1; k <= (zero_based ? n - 1 : n); ++k) {
        cli::Shard shard;
        ASSERT_EQ(cli::ParseShard(std::to_string(k) + "/" + std::to_string(n), shard), "");
        for (int p = 1; p < 50; ++p) takers[static_cast<std::size_t>(p)] += shard.Takes(p);
      }
      for (int p = 1; p < 50; ++p) EXPECT_EQ(takers[static_cast<std::size_t>(p)], 1) << p << " of " << n;
    }
  }
  cli::Shard first;
  ASSERT_EQ(cli::ParseShard("1/3", first), "");
  EXPECT_TRUE(first.Takes(1) && first.Takes(4) && !first.Takes(3));
}

TEST(BatchListTest, SummaryRowsQuoteWhatWouldSplitThem) {
  cli::MailboxRecord r;
  r.line = 7;
  r.source = "/srv/a,b \"c\"";
  r.pst = "/out/x.pst";
  r.items = {1, 2, 3, 4, 5};
  r.seconds = 2.34;
  r.status = cli::kNotStarted;
  r.error = "first\nsecond";
  r.files_lost = 6;
  r.files_not_reached = 7;
  EXPECT_EQ(cli::SummaryCsvRow(r),
            "7,\"/srv/a,b \"\"c\"\"\",/out/x.pst,1,2,3,4,5,0,6,7,0,0,2.3,2,not started,\"first\nsecond\"\r\n");
  r.name = "x.pst";
  const cli::MailboxRecord back = cli::RecordFromJson(cli::RecordJsonLine(r));
  EXPECT_EQ(back.source, r.source);
  EXPECT_EQ(back.error, r.error);
  EXPECT_EQ(back.files_lost, 6u);
  EXPECT_EQ(back.files_not_reached, 7u);
}

}  // namespace
}  // namespace mailvane::testing
