// The run as a whole, against the fake store: what the front end is told, which step gets
// which file, the closing boxes, the failure paths and the report.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/run_texts.h"
#include "run_harness.h"
#include "zimbra/meta_record_writer.h"

namespace mailvane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using testsupport::ReadFile;

run::RunOptions FixedOptions() {
  run::RunOptions options;
  options.clock = FixedTime;
  return options;
}

TEST(ConversionRunTest, CancelledTargetDialogChangesNothing) {
  TempTree tree;
  Harness h;
  h.front_end.folder_answers.push_back("");
  std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("a"))};
  run::RunResult r = h.run->CmdExtractDBX_Click(files, 1);
  EXPECT_EQ(r.outcome, run::RunOutcome::kCancelled);
  EXPECT_EQ(h.front_end.target_questions, 1);
  EXPECT_THAT(h.front_end.boxes, IsEmpty());
  EXPECT_EQ(h.front_end.runs_started, 0);
  EXPECT_THAT(h.front_end.statuses, IsEmpty());
  EXPECT_EQ(h.world.logons, 0);
  EXPECT_FALSE(h.run->Running());
}

TEST(ConversionRunTest, CaptionAndBarCountEveryFileAndTheTextFileIsTakenByNoStep) {
  TempTree tree;
  Harness h;
  std::vector<std::string> files = {
      tree.Write("Export/Inbox/1.eml", Rfc822("one")), tree.Write("Export/readme.txt"),
      tree.Write("Export/Archive/a.EML", Rfc822("two")), tree.Write("Export/Archive/photo.jpg")};
  run::RunResult r = h.Run(files, tree.root().string() + "/out");
  ASSERT_EQ(r.outcome, run::RunOutcome::kCompleted) << r.cause;
  EXPECT_THAT(h.front_end.values, ElementsAre(25, 50, 75, 100));
  EXPECT_THAT(h.front_end.captions,
              ElementsAre("Details : Reading - (1 of 4) file(s)", "Details : Reading - (2 of 4) file(s)",
                          "Details : Reading - (3 of 4) file(s)", "Details : Reading - (4 of 4) file(s)"));
  EXPECT_THAT(h.StepsOf(files[1]), IsEmpty());
  EXPECT_THAT(h.StepsOf(files[2]), ElementsAre("message"));
  EXPECT_THAT(h.StepsOf(files[3]), IsEmpty());
  EXPECT_EQ(h.run->State().FileNumber, 5);
  EXPECT_EQ(h.run->Report().FilesNotTaken(), 2u);
  EXPECT_EQ(h.run->Report().Items(run::ItemKind::kMessage), 2u);
}

TEST(ConversionRunTest, OneFileGoesStraightTo100) {
  TempTree tree;
  Harness h;
  std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one"))};
  h.Run(files, tree.root().string() + "/out");
  EXPECT_THAT(h.front_end.values, ElementsAre(100));
  EXPECT_THAT(h.front_end.captions, ElementsAre("Details : Reading - (1 of 1) file(s)"));
}

TEST(ConversionRunTest, FiveTestsInTheirOrderAndTheirCaseRules) {
  TempTree tree;
  Harness h(false);
  std::vector<std::string> files = {
      tree.Write("Export/Emailed Contacts/Doe, Jane.meta"),
      tree.Write("Export/contacts/Lower.meta"),
      tree.Write("Export/Calendar/0000000301-Lunch.APPT.META"),
      tree.Write("Export/Calendar/0000000301-Lunch.appt"),
      tree.Write("Export/Tasks/0000000305-Send.task.meta"),
      tree.Write("Export/Notebook/Team plan.wiki.meta"),
      tree.Write("Export/Notebook Old/Page.wiki.meta"),
      tree.Write("Export/Inbox/1.eml.meta"),
      // Contacts in the path and a .meta name: a contact record; the calendar test too.
      tree.Write("Export/Contacts/Calendar/x.appt.meta"),
      tree.Write("Export/Inbox/noteml"),
  };
  h.Run(files, tree.root().string() + "/out");
  EXPECT_THAT(h.StepsOf(files[0]), ElementsAre("contact"));
  EXPECT_THAT(h.StepsOf(files[1]), IsEmpty());
  EXPECT_THAT(h.StepsOf(files[2]), ElementsAre("calendar"));
  EXPECT_THAT(h.StepsOf(files[3]), IsEmpty());
  EXPECT_THAT(h.StepsOf(files[4]), ElementsAre("task"));
  EXPECT_THAT(h.StepsOf(files[5]), ElementsAre("note"));
  EXPECT_THAT(h.StepsOf(files[6]), ElementsAre("note"));
  EXPECT_THAT(h.StepsOf(files[7]), IsEmpty());
  EXPECT_THAT(h.StepsOf(files[8]), ElementsAre("contact", "calendar"));
  EXPECT_THAT(h.StepsOf(files[9]), ElementsAre("message"));
}

TEST(ConversionRunTest, SplitFoldersAreTestedAsTheirFolderButReadFromTheirRealPath) {
  TempTree tree;
  Harness h(false);
  std::vector<std::string> files = {tree.Write("Export/Calendar!1/0000000900-Late.appt.meta"),
                                    tree.Write("Export/Tasks!2/0000000901-Late.task.meta")};
  h.Run(files, tree.root().string() + "/out");
  EXPECT_THAT(h.StepsOf(files[0]), ElementsAre("calendar"));
  EXPECT_THAT(h.StepsOf(files[1]), ElementsAre("task"));
}

TEST(ConversionRunTest, StatusTextsOfTheSetUpInTheirOrder) {
  TempTree tree;
  Harness h;
  std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one"))};
  h.Run(files, tree.root().string() + "/out");
  const std::string prefix = tree.StorePrefix();
  const auto& s = h.front_end.statuses;
  ASSERT_GE(s.size(), 5u);
  EXPECT_EQ(s[0], "Outlook Session Created...");
  EXPECT_EQ(s[1], "Reading Zimbra Folder(s)...");
  EXPECT_EQ(s[2], "Reading Zimbra Folder... " + prefix + "\\Export\\Inbox");
  EXPECT_EQ(s[3], "Creating Outlook Folders...");
  EXPECT_TRUE(h.front_end.HasStatus("Creating Outlook Folders... Export"));
  EXPECT_EQ(s.back(), "Converting Messages... from (" + files[0] + ")");
}

TEST(ConversionRunTest, CompletionBoxWhenNothingFailedAndTheReportBesideThePst) {
  TempTree tree;
  Harness h;
  std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one")),
                                    tree.Write("Export/Inbox/1.eml.meta"),
                                    tree.Write("Export/Inbox/odd.bin")};
  const std::string out = tree.root().string() + "/out";
  run::RunResult r = h.Run(files, out);
  ASSERT_EQ(h.front_end.boxes.size(), 1u);
  const ShownMessage& box = h.front_end.boxes[0];
  EXPECT_EQ(box.title, "Mailvane");
  EXPECT_EQ(box.text,
            "Zimbra Messages Converted Successfully.\r\nOpen Outlook to view converted PST file."
            "\r\n" + out + "/ZimbraMailbox5.12.26 9.7.03.pst");
  EXPECT_EQ(box.icon, source::MessageBoxIcon::kInformation);
  EXPECT_EQ(box.buttons, source::MessageBoxButtons::kOk);

  EXPECT_EQ(h.world.pst_path, out + "/ZimbraMailbox5.12.26 9.7.03.pst");
  EXPECT_EQ(h.world.display_name, "Mailbox (Zimbra) : Created - 5.12.26 9.7.03");
  EXPECT_EQ(h.world.logoffs, 1);
  EXPECT_EQ(r.report_path, out + "/ZimbraMailbox5.12.26 9.7.03.log");
  std::string report = ReadFile(r.report_path);
  EXPECT_THAT(report, HasSubstr("1 messages"));
  EXPECT_THAT(report, HasSubstr(".meta: 1"));
  EXPECT_THAT(report, HasSubstr(".bin: 1"));
  EXPECT_THAT(report, HasSubstr(files[2]));
  EXPECT_THAT(report, ::testing::Not(HasSubstr(files[1])));  // .meta files are only counted
}

TEST(ConversionRunTest, TargetWithOrWithoutSeparatorIsMadeWithItsParentsAndHoldsThePst) {
  TempTree tree;
  for (const std::string& target :
       {tree.root().string() + "/a", tree.root().string() + "/b/", tree.root().string() + "/c/d/e"}) {
    Harness h;
    const run::RunResult r = h.Run({tree.Write("Export/Inbox/1.eml", Rfc822("one"))}, target);
    EXPECT_EQ(r.outcome, run::RunOutcome::kCompleted) << target;
    std::string folder = target.back() == '/' ? target : target + "/";
    EXPECT_EQ(h.world.pst_path.string(), folder + "ZimbraMailbox5.12.26 9.7.03.pst");
    EXPECT_EQ(h.run->State().TargetFolder, folder);
  }
}

// A store that refuses a write refuses every later one: the run stops at once, and its
// counts are what the file holds (the last safe point), not what was saved since.
TEST(ConversionRunTest, StoreRefusingAWriteStopsTheRunAndCountsWhatTheFileHolds) {
  TempTree tree;
  run::RunOptions options;
  options.commit_every_items = 3;
  Harness h(true, options);
  h.world.refuse_from_save = 5;  // items 1-3 committed, 4 saved only, 5 refused
  std::vector<std::string> files;
  for (int i = 0; i < 10; ++i) {
    files.push_back(tree.Write("Export/Archive/" + std::to_string(i) + ".eml", Rfc822("m")));
  }
  const run::RunResult r = h.Run(files, tree.root().string() + "/out");
  const run::RunReport& report = h.run->Report();
  EXPECT_EQ(h.world.items_committed, 3);
  EXPECT_EQ(report.ItemsTotal(), 3u);
  EXPECT_EQ(report.FilesConverted(), 3u);
  EXPECT_EQ(report.FilesLost(), 1u);
  EXPECT_EQ(report.FilesFailed(), 1u);
  EXPECT_EQ(report.FilesNotReached(), 5u);
  EXPECT_THAT(h.StepsOf(files[5]), IsEmpty()) << "a file after the failure was taken";
  ASSERT_EQ(h.front_end.ends.size(), 1u);
  EXPECT_EQ(h.front_end.ends[0].store_failure, "No space left on device");
  ASSERT_EQ(h.front_end.boxes.size(), 1u);
  EXPECT_THAT(h.front_end.boxes[0].text,
              HasSubstr("The .pst file holds 3 item(s), those of its last safe point; 1 converted "
                        "file(s) were lost with the failure and 5 file(s) were not reached."));
  EXPECT_THAT(ReadFile(r.report_path),
              HasSubstr("Files: 3 converted, 1 failed, 0 taken by no step, 1 converted but lost "
                        "with the failure, 5 not reached"));
}

TEST(ConversionRunTest, FailuresGiveAWarningBoxWithCountsAndTheReport) {
  TempTree tree;
  Harness h;
  h.world.failing_imports.insert("bad.eml");
  std::vector<std::string> files = {tree.Write("Export/Inbox/good.eml", Rfc822("good")),
                                    tree.Write("Export/Inbox/bad.eml", "garbage")};
  run::RunResult r = h.Run(files, tree.root().string() + "/out");
  ASSERT_EQ(h.front_end.boxes.size(), 1u);
  const ShownMessage& box = h.front_end.boxes[0];
  EXPECT_EQ(box.title, "Mailvane");
  EXPECT_EQ(box.icon, source::MessageBoxIcon::kWarning);
  EXPECT_EQ(box.text, "Zimbra Messages Converted with Errors.\r\n1 file(s) converted, 1 file(s) "
                      "failed.\r\nSee the report: " + r.report_path);
  // The failed import still leaves the message stored, flagged read.
  EXPECT_EQ(h.world.FolderOfImported("bad.eml"), "Inbox");
  std::string report = ReadFile(r.report_path);
  EXPECT_THAT(report, HasSubstr(files[1] + " | import message | cannot import"));
}

TEST(ConversionRunTest, SessionFailureShowsTheOutlookErrorBoxWithItsCause) {
  TempTree tree;
  Harness h;
  h.world.fail_logon = "no profile configured";
  std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one"))};
  run::RunResult r = h.Run(files, tree.root().string() + "/out");
  EXPECT_EQ(r.outcome, run::RunOutcome::kSessionFailed);
  ASSERT_EQ(h.front_end.boxes.size(), 1u);
  const ShownMessage& box = h.front_end.boxes[0];
  EXPECT_EQ(box.title, "Outlook Error");
  EXPECT_EQ(box.icon, source::MessageBoxIcon::kInformation);
  EXPECT_EQ(box.text,
            "Outlook Session Creation Error !\r\n"
            "Cause : no profile configured\r\n"
            "Choose another folder to save to, or mend the cause above and try again.");
  ASSERT_EQ(h.front_end.set_up_failures.size(), 1u);
  EXPECT_EQ(h.front_end.set_up_failures[0].cause, "no profile configured");
  EXPECT_THAT(h.front_end.values, IsEmpty());
  EXPECT_EQ(h.world.items_saved, 0);
  EXPECT_EQ(h.world.logoffs, 0);
  EXPECT_THAT(h.calls, IsEmpty());
}

TEST(ConversionRunTest, TargetThatIsAFileOrUnmakeableTakesTheSessionFailurePathWithAdvice) {
  TempTree tree;
  const std::string file = tree.Write("occupied");
  const struct {
    std::string target;
    std::string advice;
  } cases[] = {
      {file, "Choose a folder, not a file."},
      {file + "/below", "Choose a folder, not a file."},
      {"/proc/mailvane-no", "Choose a folder you may write to."},
  };
  for (const auto& c : cases) {
    Harness h;
    run::RunResult r = h.Run({tree.Write("Export/Inbox/1.eml", Rfc822("one"))}, c.target);
    EXPECT_EQ(r.outcome, run::RunOutcome::kSessionFailed) << c.target;
    ASSERT_EQ(h.front_end.boxes.size(), 1u);
    EXPECT_EQ(h.front_end.boxes[0].title, "Outlook Error");
    EXPECT_THAT(h.front_end.boxes[0].text, HasSubstr("\r\nCause : the target"));
    EXPECT_THAT(h.front_end.boxes[0].text, ::testing::EndsWith("\r\n" + c.advice)) << c.target;
    EXPECT_THAT(r.cause, HasSubstr(c.target));
  }
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
    EXPECT_TRUE(conversion.Report().NothingConverted());
  }
}

TEST(ConversionRunTest, FileInTheRootTakesTheSessionFailurePathNamingIt) {
  TempTree tree;
  Harness h;
  run::RunResult r = h.Run({"/mailvane-at-the-root.eml"}, tree.root().string() + "/out");
  EXPECT_EQ(r.outcome, run::RunOutcome::kSessionFailed);
  EXPECT_THAT(r.cause, HasSubstr("/mailvane-at-the-root.eml"));
  // The store was made before the failure and stays.
  EXPECT_TRUE(std::filesystem::exists(h.world.pst_path));
}

// The window keeps "Convert &Messages" off after a run that stored a message.
TEST(ConversionRunTest, TheFirstMessageIsToldOncePerRun) {
  TempTree tree;
  const struct {
    std::vector<std::string> files;
    int told;
  } cases[] = {
      {{tree.Write("Export/Inbox/1.eml", Rfc822("one")), tree.Write("Export/Inbox/2.eml", Rfc822("two"))}, 1},
      {{tree.Write("Export/readme.txt")}, 0},
  };
  for (const auto& c : cases) {
    Harness h;
    h.Run(c.files, tree.root().string() + "/out");
    EXPECT_EQ(h.front_end.runs_started, 1);
    EXPECT_EQ(h.front_end.first_messages, c.told);
  }
}

TEST(ConversionRunTest, ASecondPressDuringAYieldIsRefused) {
  TempTree tree;
  Harness h;
  std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one"))};
  std::vector<run::RunOutcome> inner;
  h.front_end.on_yield = [&] {
    if (inner.empty()) inner.push_back(h.run->CmdExtractDBX_Click(files, 1).outcome);
  };
  run::RunResult r = h.Run(files, tree.root().string() + "/out");
  EXPECT_EQ(r.outcome, run::RunOutcome::kCompleted);
  EXPECT_THAT(inner, ElementsAre(run::RunOutcome::kRefused));
  EXPECT_EQ(h.world.items_saved, 1);
}

TEST(ConversionRunTest, AFifoNamedLikeAMessageIsReportedAndNeverOpened) {
  TempTree tree;
  Harness h;
  std::string fifo = (tree.root() / "Export/Inbox/pipe.eml").string();
  std::filesystem::create_directories(tree.root() / "Export/Inbox");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> files = {fifo, tree.Write("Export/Inbox/1.eml", Rfc822("one"))};
  run::RunResult r = h.Run(files, tree.root().string() + "/out");
  EXPECT_EQ(r.outcome, run::RunOutcome::kCompleted);
  EXPECT_THAT(h.StepsOf(fifo), IsEmpty());
  ASSERT_EQ(h.run->Report().Failures().size(), 1u);
  EXPECT_EQ(h.run->Report().Failures()[0].file, fifo);
  EXPECT_THAT(h.run->Report().Failures()[0].reason, HasSubstr("FIFO"));
  EXPECT_EQ(h.run->Report().FilesFailed(), 1u);
}

TEST(ConversionRunTest, StepThatRaisesIsRecordedAndTheRunGoesOn) {
  TempTree tree;
  Harness h;
  run::ItemSteps steps = RecordingSteps(h.calls);
  steps.contact = [](zimbra::ItemContext&, source::ExportFile&) -> bool {
    throw std::runtime_error("contact record unreadable");
  };
  run::ConversionRun run(h.front_end, [&] { return std::make_unique<FakeSession>(h.world); },
                         steps, FixedOptions());
  h.front_end.folder_answers.push_back(tree.root().string() + "/out");
  std::vector<std::string> files = {tree.Write("Export/Contacts/Doe.meta"),
                                    tree.Write("Export/Inbox/1.eml", Rfc822("one"))};
  run.CmdExtractDBX_Click(files, 2);
  ASSERT_EQ(run.Report().Failures().size(), 1u);
  EXPECT_EQ(run.Report().Failures()[0].step, "contact");
  EXPECT_EQ(run.Report().Failures()[0].reason, "contact record unreadable");
  EXPECT_EQ(run.Report().Items(run::ItemKind::kMessage), 1u);
  EXPECT_THAT(h.front_end.values, ElementsAre(50, 100));
}

TEST(ConversionRunTest, SafePointsCommitTheStoreDuringALongRun) {
  TempTree tree;
  run::RunOptions options;
  options.commit_every_items = 3;
  Harness h(true, options);
  std::vector<std::string> files;
  for (int i = 0; i < 10; ++i) {
    files.push_back(tree.Write("Export/Archive/" + std::to_string(i) + ".eml", Rfc822("m")));
  }
  h.Run(files, tree.root().string() + "/out");
  // Three safe points for ten items, a last one for the tenth, then the log-off's own.
  EXPECT_EQ(h.world.commits, 5);
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
  EXPECT_THAT(fe.boxes.back().text, ::testing::StartsWith(run::kCompletionText));
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
