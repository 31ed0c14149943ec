// The run as a whole, against the fake store: which step gets which file, what the front
// end is told when a run cannot start or ends badly, and the report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/run_texts.h"
#include "run_harness.h"
#include "zimbra/meta_record_writer.h"

namespace mailvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

using testsupport::ReadFile;

run::RunOptions FixedOptions() {
  run::RunOptions options;
  options.clock = FixedTime;
  return options;
}

TEST(ConversionRunTest, EachFileGoesToTheStepsWhoseTestItPassesCaseSensitively) {
  TempTree tree;
  Harness h(false);
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"Export/Emailed Contacts/Doe, Jane.meta", {"contact"}},
      {"Export/contacts/Lower.meta", {}},
      {"Export/Calendar/0000000301-Lunch.APPT.META", {"calendar"}},
      {"Export/Calendar/0000000301-Lunch.appt", {}},
      {"Export/Tasks/0000000305-Send.task.meta", {"task"}},
      {"Export/Notebook/Team plan.wiki.meta", {"note"}},
      {"Export/Notebook Old/Page.wiki.meta", {"note"}},
      {"Export/Inbox/1.eml.meta", {}},
      // Contacts in the path and a .meta name: a contact record; the calendar test too.
      {"Export/Contacts/Calendar/x.appt.meta", {"contact", "calendar"}},
      {"Export/Inbox/noteml", {"message"}},
      {"Export/Archive/a.EML", {"message"}},
      {"Export/readme.txt", {}},
      // Split folders are tested as their folder but read from their real path.
      {"Export/Calendar!1/0000000900-Late.appt.meta", {"calendar"}},
      {"Export/Tasks!2/0000000901-Late.task.meta", {"task"}},
  };
  std::vector<std::string> files;
  for (const auto& [file, steps] : rows) files.push_back(tree.Write(file));
  ASSERT_EQ(h.Run(files, tree.root().string() + "/out").outcome, run::RunOutcome::kCompleted);
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(h.StepsOf(files[i]), rows[i].second) << files[i];
}

// A run that cannot start names its cause and what to do; nothing is converted.
TEST(ConversionRunTest, ARunThatCannotStartSaysWhyAndWhatToDo) {
  TempTree tree;
  const std::string file = tree.Write("occupied");
  const struct {
    std::string target, logon_failure, cause, advice;
  } rows[] = {
      {tree.root().string() + "/out", "no profile configured", "no profile configured",
       "Choose another folder to save to, or mend the cause above and try again."},
      {file, "", "the target", "Choose a folder, not a file."},
      {file + "/below", "", "the target", "Choose a folder, not a file."},
      {"/proc/mailvane-no", "", "the target", "Choose a folder you may write to."},
  };
  for (const auto& row : rows) {
    Harness h;
    h.world.fail_logon = row.logon_failure;
    run::RunResult r = h.Run({tree.Write("Export/Inbox/1.eml", Rfc822("one"))}, row.target);
    EXPECT_EQ(r.outcome, run::RunOutcome::kSessionFailed) << row.target;
    ASSERT_EQ(h.front_end.boxes.size(), 1u);
    EXPECT_EQ(h.front_end.boxes[0].title, "Outlook Error");
    EXPECT_THAT(h.front_end.boxes[0].text,
                ::testing::StartsWith("Outlook Session Creation Error !\r\nCause : " + row.cause));
    EXPECT_THAT(h.front_end.boxes[0].text, ::testing::EndsWith("\r\n" + row.advice)) << row.target;
    EXPECT_THAT(h.front_end.set_up_failures.at(0).cause, HasSubstr(row.cause));
    EXPECT_EQ(h.world.items_saved, 0);
    EXPECT_THAT(h.calls, IsEmpty());
  }
  // A file in the root has no folder to mirror: the run stops naming it.
  Harness h;
  run::RunResult r = h.Run({"/mailvane-at-the-root.eml"}, tree.root().string() + "/out");
  EXPECT_EQ(r.outcome, run::RunOutcome::kSessionFailed);
  EXPECT_THAT(r.cause, HasSubstr("/mailvane-at-the-root.eml"));
}

// Files that should give items and gave none (no steps, or steps that wrote nothing) are
// no success: the window once said "Converted Successfully" over an empty store.
TEST(ConversionRunTest, NoItemFromFilesThatShouldGiveItemsIsNoSuccess) {
  TempTree tree;
  const std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one")),
                                          tree.Write("Export/Contacts/Doe.meta")};
  auto nothing = [](zimbra::ItemContext&, source::ExportFile&) { return false; };
  const run::ItemSteps cases[] = {
      {},
      {nothing, nothing, nothing, nothing,
       [](run::MessageContext&, source::ExportFile&, const std::string&) { return false; }},
  };
  for (const run::ItemSteps& steps : cases) {
    FakeFrontEnd fe;
    FakeWorld world;
    run::ConversionRun conversion(fe, [&] { return std::make_unique<FakeSession>(world); },
                                  steps, FixedOptions());
    fe.folder_answers.push_back((tree.root() / "out").string());
    const run::RunResult r = conversion.CmdExtractDBX_Click(files, 2);
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0].icon, source::MessageBoxIcon::kWarning);
    EXPECT_EQ(fe.boxes[0].text, "No Zimbra item was converted.\r\n2 file(s) were taken by a step "
                                "but gave no item.\r\nSee the report: " + r.report_path);
  }
}

// Commits grow with the mailbox: a slow one pushes the next safe point back by four times
// its duration, so safe points cannot take over a long run.
TEST(ConversionRunTest, ASlowCommitSpacesTheNextSafePoints) {
  TempTree tree;
  run::RunOptions options;
  options.commit_every_items = 1;
  Harness h(true, options);
  h.world.commit_takes = std::chrono::milliseconds(300);
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) {
    files.push_back(tree.Write("Export/Archive/" + std::to_string(i) + ".eml", Rfc822("m")));
  }
  EXPECT_EQ(h.Run(files, tree.root().string() + "/out").outcome, run::RunOutcome::kCompleted);
  // The first item's safe point, the last one of the run, the log-off's: not one per item.
  EXPECT_EQ(h.world.commits, 3);

  // Large items that come fast: a safe point after each 2 MB read.
  options.commit_every_items = 500;
  options.commit_every_bytes = 2 << 20;
  Harness big(true, options);
  for (int i = 0; i < 6; ++i) {
    files[i] = tree.Write("Export/Big/" + std::to_string(i) + ".eml", Rfc822(std::string(1 << 19, 'm')));
  }
  EXPECT_EQ(big.Run(files, tree.root().string() + "/out2").outcome, run::RunOutcome::kCompleted);
  EXPECT_EQ(big.world.commits, 4);  // after files 2, 4 and 6, then the log-off's
}

// Old servers wrote Windows-style zone names the system does not know: the appointment is
// still written, in local time, and the report names the file with what was done.
TEST(ConversionRunTest, UnknownTimeZoneIsANoticeInTheReportNotAFailure) {
  using zimbra::testing::KV;
  TempTree tree;
  const std::string zone = "TZID=(GMT+01.00) Amsterdam / Berlin / Rome:";
  const std::string meta = "d4:inv0d" + KV("et", zone + "20231117T130000") +
                           KV("n", "Board meeting") + KV("st", zone + "20231117T120000") +
                           "e1:vi10ee";
  const std::string file = tree.Write("Export/Calendar/0000000400-Board meeting.appt.meta",
                                      zimbra::testing::RecordLine("/Calendar/", meta, 11));
  FakeFrontEnd fe;
  FakeWorld world;
  run::ConversionRun conversion(
      fe, [&] { return std::make_unique<FakeSession>(world); }, run::DefaultItemSteps(),
      FixedOptions());
  fe.folder_answers.push_back((tree.root() / "out").string());
  const run::RunResult r = conversion.CmdExtractDBX_Click({file}, 1);
  ASSERT_EQ(r.outcome, run::RunOutcome::kCompleted) << r.cause;
  EXPECT_FALSE(conversion.Report().HasFailures());
  EXPECT_EQ(conversion.Report().Items(run::ItemKind::kAppointment), 1u);
  EXPECT_THAT(world.created.at(0)->ops, ::testing::Contains("Start@2023-11-17 12:00"));
  const std::string log = ReadFile(r.report_path);
  EXPECT_THAT(log, HasSubstr("\nNotices: 2\n"));
  for (const char* which : {"Start", "End"}) {
    EXPECT_THAT(log, HasSubstr("\n  " + file + " | " + which +
                               ": unknown time zone \"(GMT+01.00) Amsterdam / Berlin / Rome\", "
                               "the time was read in the local zone\n"))
        << log;
  }
}

}  // namespace
}  // namespace mailvane::testing
