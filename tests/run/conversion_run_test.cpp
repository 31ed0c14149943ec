// The run as a whole, on the real store: which step a path goes to, what the front end is
// told when a run cannot start or ends badly, safe points, and the report.
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/conversion_run.h"
#include "run/file_tests.h"
#include "store/pst_session.h"
#include "support/fake_front_end.h"
#include "support/files.h"
#include "zimbra/meta_record_writer.h"

namespace mailvane::run {
namespace {

using ::testing::HasSubstr;
using testsupport::FakeFrontEnd;
using testsupport::Rfc822;
using testsupport::ScratchDir;

RunOptions FixedOptions() {
  RunOptions options;
  options.clock = [] { return testsupport::LocalTimeAt(2026, 12, 5, 9, 7, 3); };
  return options;
}

struct RunOver {
  FakeFrontEnd front_end;
  source::PathList list;
  RunResult result;
  std::unique_ptr<ConversionRun> conversion;
  RunOver(const std::vector<std::string>& files, const std::string& target, SessionFactory make_session,
      ItemSteps steps = DefaultItemSteps(), RunOptions options = FixedOptions()) {
    conversion = std::make_unique<ConversionRun>(front_end, std::move(make_session), steps, options);
    front_end.target_folder = target;
    for (const std::string& f : files) list.Append(f);
    result = conversion->CmdExtractDBX_Click(list, static_cast<int>(list.size()));
  }
};

std::unique_ptr<store::Session> RealSession() { return store::CreatePstSession(); }

TEST(FileTests, EachPathPassesTheTestsOfItsFolderAndEndingCaseSensitively) {
  const std::pair<const char*, const char*> rows[] = {
      {"/Export/Emailed Contacts/Doe, Jane.meta", "contact"},
      {"/Export/contacts/Lower.meta", ""},
      {"/Export/Calendar/0000000301-Lunch.APPT.META", "calendar"},
      {"/Export/Calendar/0000000301-Lunch.appt", ""},
      {"/Export/Tasks/0000000305-Send.task.meta", "task"},
      {"/Export/Notebook/Team plan.wiki.meta", "note"},
      {"/Export/Notebook Old/Page.wiki.meta", "note"},
      {"/Export/Inbox/1.eml.meta", ""},
      {"/Export/Contacts/Calendar/x.appt.meta", "contact calendar"},
      {"/Export/Inbox/noteml", "message"},
      {"/Export/Archive/a.EML", "message"},
      {"/Export/readme.txt", ""},
      // Split folders are tested as their folder.
      {"/Export/Calendar!1/0000000900-Late.appt.meta", "calendar"},
      {"/Export/Tasks!2/0000000901-Late.task.meta", "task"},
  };
  for (const auto& [path, expected] : rows) {
    const FileTests t = TestFile(LogicalPath(path));
    std::string passed;
    for (const auto& [yes, name] : {std::pair{t.contact, "contact"}, {t.calendar, "calendar"},
                                    {t.task, "task"}, {t.note, "note"}, {t.message, "message"}}) {
      if (yes) passed += (passed.empty() ? "" : " ") + std::string(name);
    }
    EXPECT_EQ(passed, expected) << path;
  }
}

// A run that cannot start names its cause and what to do; nothing is converted.
TEST(ConversionRunTest, ARunThatCannotStartSaysWhyAndWhatToDo) {
  struct RefusedLogon : store::PstSession {
    void Logon() override { throw store::StoreError("no profile configured"); }
  };
  ScratchDir tree("run");
  const std::string file = tree.Write("occupied");
  const struct {
    std::string target, cause, advice;
    bool refuse_logon = false;
  } rows[] = {
      {tree.path().string() + "/out", "no profile configured",
       "Choose another folder to save to, or mend the cause above and try again.", true},
      {file, "the target", "Choose a folder, not a file."},
      {file + "/below", "the target", "Choose a folder, not a file."},
      {"/proc/mailvane-no", "the target", "Choose a folder you may write to."},
  };
  for (const auto& row : rows) {
    RunOver r({tree.Write("Export/Inbox/1.eml", Rfc822("one"))}, row.target, [&]() -> std::unique_ptr<store::Session> {
      if (row.refuse_logon) return std::make_unique<RefusedLogon>();
      return RealSession();
    });
    EXPECT_EQ(r.result.outcome, RunOutcome::kSessionFailed) << row.target;
    ASSERT_EQ(r.front_end.boxes.size(), 1u);
    EXPECT_EQ(r.front_end.boxes[0].title, "Outlook Error");
    EXPECT_THAT(r.front_end.boxes[0].text,
                ::testing::StartsWith("Outlook Session Creation Error !\r\nCause : " + row.cause));
    EXPECT_THAT(r.front_end.boxes[0].text, ::testing::EndsWith("\r\n" + row.advice)) << row.target;
    EXPECT_THAT(r.front_end.set_up_failures.at(0).cause, HasSubstr(row.cause));
    EXPECT_FALSE(std::filesystem::exists(tree.path() / "out"));
  }
  // A file in the root has no folder to mirror: the run stops naming it.
  RunOver r({"/mailvane-at-the-root.eml"}, tree.path().string() + "/out", RealSession);
  EXPECT_EQ(r.result.outcome, RunOutcome::kSessionFailed);
  EXPECT_THAT(r.result.cause, HasSubstr("/mailvane-at-the-root.eml"));
}

// Files that should give items and gave none (no steps, or steps that wrote nothing) are
// no success: the window once said "Converted Successfully" over an empty store.
TEST(ConversionRunTest, NoItemFromFilesThatShouldGiveItemsIsNoSuccess) {
  ScratchDir tree("run");
  const std::vector<std::string> files = {tree.Write("Export/Inbox/1.eml", Rfc822("one")),
                                          tree.Write("Export/Contacts/Doe.meta")};
  auto nothing = [](zimbra::ItemContext&, source::ExportFile&) { return false; };
  const ItemSteps cases[] = {
      {},
      {nothing, nothing, nothing, nothing,
       [](MessageContext&, source::ExportFile&, const std::string&) { return false; }},
  };
  for (const ItemSteps& steps : cases) {
    RunOver r(files, (tree.path() / "out").string(), RealSession, steps);
    ASSERT_EQ(r.front_end.boxes.size(), 1u);
    EXPECT_EQ(r.front_end.boxes[0].icon, source::MessageBoxIcon::kWarning);
    EXPECT_EQ(r.front_end.boxes[0].text, "No Zimbra item was converted.\r\n2 file(s) were taken by a step "
                                         "but gave no item.\r\nSee the report: " + r.result.report_path);
  }
}

// The real store with each commit the run asks for counted and slowed down.
struct SlowCommits : store::PstSession {
  struct Store : store::Store {
    store::Store* real = nullptr;
    int commits = 0;
    std::chrono::milliseconds takes{300};
    std::string EntryID() const override { return real->EntryID(); }
    std::string DisplayName() const override { return real->DisplayName(); }
    std::filesystem::path FilePath() const override { return real->FilePath(); }
    void ValidateIPMTree() override { real->ValidateIPMTree(); }
    std::unique_ptr<store::Folder> GetDefaultFolder(store::DefaultFolder k) override { return real->GetDefaultFolder(k); }
    std::unique_ptr<store::Folder> IPMRootFolder() override { return real->IPMRootFolder(); }
    std::string WriteFailure() const override { return real->WriteFailure(); }
    void Commit() override {
      std::this_thread::sleep_for(takes);
      ++commits;
      real->Commit();
    }
  };
  Store& store;
  explicit SlowCommits(Store& s) : store(s) {}
  store::Store& AddPSTStore(const std::filesystem::path& p, int format, std::string_view name) override {
    store.real = &PstSession::AddPSTStore(p, format, name);
    return store;
  }
  store::Store& GetStoreFromID(std::string_view id) override { return PstSession::GetStoreFromID(id), store; }
};

// Commits grow with the mailbox: a slow one pushes the next safe point back by four times
// its duration, so safe points cannot take over a long run.
TEST(ConversionRunTest, ASlowCommitSpacesTheNextSafePoints) {
  ScratchDir tree("run");
  RunOptions options = FixedOptions();
  options.commit_every_items = 1;
  options.threads = 1;
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) {
    files.push_back(tree.Write("Export/Archive/" + std::to_string(i) + ".eml", Rfc822("m")));
  }
  SlowCommits::Store slow;
  auto session = [&] { return std::make_unique<SlowCommits>(slow); };
  EXPECT_EQ(RunOver(files, tree.path().string() + "/out", session, DefaultItemSteps(), options).result.outcome,
            RunOutcome::kCompleted);
  // The first item's safe point and the last one of the run: not one per item.
  EXPECT_EQ(slow.commits, 2);

  // Large items that come fast: a safe point after each 2 MB read (spacing aside, which
  // would follow the real commits' durations).
  options.commit_every_items = 500;
  options.commit_every_bytes = 2 << 20;
  options.commit_spacing = 0;
  for (int i = 0; i < 6; ++i) {
    files[i] = tree.Write("Export/Big/" + std::to_string(i) + ".eml", Rfc822(std::string(1 << 19, 'm')));
  }
  SlowCommits::Store big;
  big.takes = std::chrono::milliseconds(0);
  auto big_session = [&] { return std::make_unique<SlowCommits>(big); };
  EXPECT_EQ(RunOver(files, tree.path().string() + "/out2", big_session, DefaultItemSteps(), options).result.outcome,
            RunOutcome::kCompleted);
  EXPECT_EQ(big.commits, 3);  // after files 2, 4 and 6
}

// Old servers wrote Windows-style zone names the system does not know: the appointment is
// still written, in local time, and the report names the file with what was done.
TEST(ConversionRunTest, UnknownTimeZoneIsANoticeInTheReportNotAFailure) {
  using zimbra::testing::KV;
  ScratchDir tree("run");
  const std::string zone = "TZID=(GMT+01.00) Amsterdam / Berlin / Rome:";
  const std::string meta = "d4:inv0d" + KV("et", zone + "20231117T130000") +
                           KV("n", "Board meeting") + KV("st", zone + "20231117T120000") +
                           "e1:vi10ee";
  const std::string file = tree.Write("Export/Calendar/0000000400-Board meeting.appt.meta",
                                      zimbra::testing::RecordLine("/Calendar/", meta, 11));
  RunOver r({file}, (tree.path() / "out").string(), RealSession);
  ASSERT_EQ(r.result.outcome, RunOutcome::kCompleted) << r.result.cause;
  EXPECT_FALSE(r.conversion->Report().HasFailures());
  EXPECT_EQ(r.conversion->Report().Items(ItemKind::kAppointment), 1u);
  const std::string log = testsupport::ReadFile(r.result.report_path);
  EXPECT_THAT(log, HasSubstr("\nNotices: 2\n"));
  for (const char* which : {"Start", "End"}) {
    EXPECT_THAT(log, HasSubstr("\n  " + file + " | " + which +
                               ": unknown time zone \"(GMT+01.00) Amsterdam / Berlin / Rome\", "
                               "the time was read in the local zone\n"))
        << log;
  }
}

}  // namespace
}  // namespace mailvane::run
