#include "source/path_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/files.h"
#include "source/path_names.h"
#include "source/relative_folder.h"

namespace mailvane::source {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A scratch folder whose Root() ends with a separator, as the logger's callers give it.
class TempTree : public testsupport::ScratchDir {
 public:
  TempTree() : ScratchDir("walk") {}
  std::string Root() const { return path().string() + "/"; }
  void File(const std::string& relative) const { Write(relative); }
  void Folder(const std::string& relative) const { fs::create_directories(path() / relative); }
};

std::vector<std::string> Listed(const PathList& list) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < list.size(); ++i) paths.push_back(list[i]);
  return paths;
}

TEST(PathLogger, ListsBreadthFirstAndCountsInTheLabel) {
  TempTree tree;
  tree.File("A/x.eml");
  tree.File("A/B/y.meta");
  tree.File("A/C/z.eml");
  tree.File("A/B/D/w.eml");
  tree.Folder("A/B/Empty");
  std::vector<std::string> labels;
  PathLogger logger([&](const std::string& text) { labels.push_back(text); }, nullptr);
  logger.PathLogInit();
  // No trailing separator: exactly one is added between folder and name.
  logger.LogPath(tree.Root() + "A");

  const std::string a = tree.Root() + "A/";
  EXPECT_EQ(logger.Count(), 4u);
  EXPECT_THAT(Listed(logger.fullFileNames()),
              ElementsAre(a + "x.eml", a + "B/y.meta", a + "C/z.eml", a + "B/D/w.eml"));
  EXPECT_THAT(logger.pathNames(), ElementsAre(a, a + "B/", a + "C/", a + "B/D/", a + "B/Empty/"));
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back(), "4 Messages Queued for Conversion.");
  EXPECT_THAT(logger.skippedFolders(), IsEmpty());
}

TEST(PathLogger, LinksToFoldersAreNotFollowedLinksToFilesAreListed) {
  TempTree tree;
  tree.File("Inbox/1.eml");
  tree.File("real.eml");
  const std::string root = tree.Root();
  fs::create_directory_symlink(root, root + "Inbox/loop");           // a loop back to the top
  fs::create_directory_symlink(root + "Inbox", root + "InboxLink");  // a second way in
  fs::create_symlink(root + "real.eml", root + "Inbox/alias.eml");
  fs::create_symlink(root + "gone.eml", root + "Inbox/dangling.eml");

  PathLogger logger;
  logger.PathLogInit();
  logger.LogPath(root);
  EXPECT_THAT(Listed(logger.fullFileNames()),
              ElementsAre(root + "real.eml", root + "Inbox/1.eml", root + "Inbox/alias.eml",
                          root + "Inbox/dangling.eml"));
  ASSERT_EQ(logger.skippedFolders().size(), 2u);
  EXPECT_EQ(logger.skippedFolders()[0].path, root + "InboxLink/");
  EXPECT_EQ(logger.skippedFolders()[1].path, root + "Inbox/loop/");
  EXPECT_THAT(logger.skippedFolders()[0].reason, ::testing::HasSubstr("symbolic link"));
}

TEST(PathLogger, FoldersThatVanishDuringTheWalkAreSkippedAndNamed) {
  TempTree tree;
  tree.File("top.eml");
  tree.File("Gone/lost.eml");
  tree.File("Kept/1.eml");
  tree.File("Replaced/old.eml");
  const std::string root = tree.Root();
  bool changed = false;
  PathLogger logger(nullptr, [&] {
    // The first yield comes after the top folder was listed, before its sub-folders are read.
    if (changed) return;
    changed = true;
    fs::remove_all(root + "Gone");
    fs::remove_all(root + "Replaced");
    std::ofstream(root + "Replaced") << "now a file";
  });
  logger.PathLogInit();
  EXPECT_NO_THROW(logger.LogPath(root));
  EXPECT_THAT(Listed(logger.fullFileNames()), ElementsAre(root + "top.eml", root + "Kept/1.eml"));
  EXPECT_EQ(logger.Count(), 2u);
  ASSERT_EQ(logger.skippedFolders().size(), 2u);
  EXPECT_EQ(logger.skippedFolders()[0].path, root + "Gone/");
  EXPECT_EQ(logger.skippedFolders()[1].path, root + "Replaced/");
  for (const auto& skipped : logger.skippedFolders()) {
    EXPECT_THAT(skipped.reason, ::testing::HasSubstr("cannot read the folder: "));
  }
}

// A server's listing goes to a temporary file in blocks; it must read back whole, from the
// run and the parse-ahead workers at once, and stay whole in memory where no file can be made.
TEST(PathList, LongListingsReadBackWholeFromSeveralThreadsWithOrWithoutTheFile) {
  const auto path_at = [](std::size_t i) {
    return "/srv/export/Inbox/" + std::string(i % 300, 'x') + std::to_string(i) + ".eml";
  };
  const std::string tmpdir = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
  for (const bool file_refused : {false, true}) {
    if (file_refused) ::setenv("TMPDIR", "/proc/mailvane-no-such-folder", 1);
    PathList list;
    for (std::size_t i = 0; i < 20000; ++i) list.Append(path_at(i));
    PathList moved = std::move(list);  // as the listing is handed to the run
    EXPECT_EQ(moved.KeptInMemoryBecause().empty(), !file_refused);
    ASSERT_EQ(moved.size(), 20000u);
    std::atomic<int> wrong = 0;
    std::vector<std::thread> readers;
    for (std::size_t t = 0; t < 3; ++t) {
      readers.emplace_back([&, t] {
        for (std::size_t i = t; i < moved.size(); i += 1 + t * 7) wrong += moved[i] != path_at(i);
      });
    }
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(moved[19999], path_at(19999));
    EXPECT_THROW(moved[20000], std::out_of_range);
  }
  if (tmpdir.empty()) ::unsetenv("TMPDIR"); else ::setenv("TMPDIR", tmpdir.c_str(), 1);
}

namespace fs = std::filesystem;

TEST(PathNames, NamesParentsAndStoreFolders) {
  const struct {
    std::string path, name, parent, folder;
  } rows[] = {
      {"/Zimbra/Inbox/12.eml", "12.eml", "/Zimbra/Inbox/", "Zimbra\\Inbox"},
      {"12.eml", "12.eml", "", ""},
      {"/1.eml", "1.eml", "/", ""},
      {"/Zimbra/Inbox/", "", "/Zimbra/Inbox/", "Zimbra\\Inbox"},
      // A backslash is an ordinary character of a name here.
      {"/Zimbra/a\\b.eml", "a\\b.eml", "/Zimbra/", "Zimbra"},
      // Doubled separators would otherwise give a folder with an empty name.
      {"//data//Export///Inbox/1.eml", "1.eml", "//data//Export///Inbox/", "data\\Export\\Inbox"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FileNameOf(row.path), row.name) << row.path;
    EXPECT_EQ(ParentPathOf(row.path), row.parent) << row.path;
    EXPECT_EQ(RelativeFolder(row.path), row.folder) << row.path;
  }
  // Only "!" followed by digits alone, with a name before it, is the split ending.
  const std::pair<const char*, const char*> split[] = {
      {"Export!1\\Sent!18\\Old!2", "Export\\Sent\\Old"}, {"Inbox", "Inbox"}, {"", ""},
      {"Wow!\\Big!1a\\!3\\A!!2", "Wow!\\Big!1a\\!3\\A!"}};
  for (const auto& [folder, without] : split) EXPECT_EQ(WithoutSplitSuffixes(folder), without);
}

TEST(PathNames, FileExistsOnlyForThingsThatAreNotFolders) {
  testsupport::ScratchDir dir("names");
  const std::string file = dir.Write("f");
  fs::create_symlink(file + ".gone", file + ".link");
  for (const std::string& no : {dir.path().string(), file + ".none", std::string(), file + "/below",
                                file + ".link"}) {
    EXPECT_FALSE(FileExists(no)) << no;
  }
  EXPECT_TRUE(FileExists(file));
}

}  // namespace
}  // namespace mailvane::source
