// The bundled sample export through the whole run with the real item steps, against the
// fake store: every message in its folder, every record converted, the rest reported.
#include <cstdlib>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run_harness.h"
#include "source/path_logger.h"

namespace mailvane::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

std::filesystem::path ExampleExport() {
  const char* source_dir = std::getenv("MAILVANE_SOURCE_DIR");
  return std::filesystem::path(source_dir != nullptr ? source_dir : ".") / "examples" /
         "zimbra-export";
}

TEST(ExampleExportTest, EveryItemLandsWhereItBelongs) {
  const std::filesystem::path root = ExampleExport();
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no sample export at " << root;
  source::PathLogger logger;
  logger.PathLogInit();
  logger.LogPath(root.string());
  std::vector<std::string> files = logger.TakeFullFileNames();
  ASSERT_EQ(files.size(), 51u);

  TempTree out;
  FakeFrontEnd fe;
  FakeWorld world;
  run::ConversionRun conversion(
      fe, [&] { return std::make_unique<FakeSession>(world); }, run::DefaultItemSteps(),
      {FixedTime});
  fe.folder_answers.push_back(out.root().string());
  run::RunResult result = conversion.CmdExtractDBX_Click(files, static_cast<int>(files.size()));
  ASSERT_EQ(result.outcome, run::RunOutcome::kCompleted) << result.cause;

  const std::string p = source::RelativeFolder((root / "x").string());
  EXPECT_EQ(world.FolderOfImported("0000000257-Quarterly figures.eml"), "Inbox");
  EXPECT_EQ(world.FolderOfImported("0000000258-Grüße aus München.eml"), "Inbox");
  EXPECT_EQ(world.FolderOfImported("0000000259-Fwd_ Lunch on Friday_.eml"), "Inbox");
  EXPECT_EQ(world.FolderOfImported("0000000760-Late arrival.eml"), "Inbox");
  EXPECT_EQ(world.FolderOfImported("0000000270-Re_ Budget 2024.eml"), "Inbox\\Projects");
  EXPECT_EQ(world.FolderOfImported("0000000275-Old plan.eml"), "Inbox\\Projects\\2023");
  EXPECT_EQ(world.FolderOfImported("0000000280-Re_ Quarterly figures.eml"), "Sent Items");
  EXPECT_EQ(world.FolderOfImported("0000000285-Ideas for the offsite.eml"), p + "\\Drafts");
  EXPECT_EQ(world.FolderOfImported("0000000290-Welcome aboard.eml"), p + "\\Clients");
  EXPECT_EQ(world.FolderOfImported("0000000291-Contract draft.eml"), p + "\\Clients\\Acme");

  const run::RunReport& report = conversion.Report();
  for (const run::Failure& f : report.Failures()) {
    ADD_FAILURE() << f.file << " | " << f.step << " | " << f.reason;
  }
  EXPECT_TRUE(report.Rerouted().empty());
  EXPECT_EQ(report.Items(run::ItemKind::kMessage), 10u);
  EXPECT_EQ(report.Items(run::ItemKind::kAppointment), 4u);
  EXPECT_EQ(report.Items(run::ItemKind::kTask), 2u);
  EXPECT_EQ(report.Items(run::ItemKind::kNote), 1u);
  EXPECT_EQ(report.Items(run::ItemKind::kContact), 4u) << report.Text("", 0);
  EXPECT_EQ(world.defaults[store::DefaultFolder::kCalendar]->items.size(), 4u);
  EXPECT_EQ(world.defaults[store::DefaultFolder::kTasks]->items.size(), 2u);
  EXPECT_EQ(world.defaults[store::DefaultFolder::kNotes]->items.size(), 1u);
  // The appointment and the task with a data file carry its attachment.
  for (auto kind : {store::DefaultFolder::kCalendar, store::DefaultFolder::kTasks}) {
    std::size_t attached = 0;
    for (const auto& item : world.defaults[kind]->items) attached += item->attachments.size();
    EXPECT_EQ(attached, 1u);
  }
  // Data files, the Briefcase document and the .meta records of messages and folders are
  // taken by no step; all but the .meta files are named.
  EXPECT_THAT(report.NotTakenByEnding(), Contains(std::make_pair(std::string(".meta"), 24ul)));
  EXPECT_EQ(report.NotTakenNamed().size(), 4u);
  EXPECT_EQ(fe.messages.back().title, "Mailvane");
}

}  // namespace
}  // namespace mailvane::testing
