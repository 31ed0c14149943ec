// The names a batch's mailboxes get and the summary rows that quote them. Reading the list
// and its shards are the program tests'.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/batch_record.h"
#include "cli/pst_names.h"

namespace mailvane::testing {
namespace {

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
