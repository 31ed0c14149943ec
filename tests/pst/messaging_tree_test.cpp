// Folder trees of several sizes and shapes, read back by our checker and by every
// independent reader: each must list exactly the folders written, with their classes.
#include <gtest/gtest.h>

#include <chrono>

#include "pst/messaging/default_folder.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::CheckerClean;
using testing::ExpectedFolders;
using testing::ScratchDir;

const char* const kNames[] = {
    "Archive", "Réunions été", "Ελληνικά", "日本語フォルダ", "中文邮件", "Emoji 📁🚀",
    "Ünïcödé ñ", "Кириллица", "한국어", "Spaces and . dots", "Mixed Ωmega 漢字 ✉"};

struct TreeCase {
  const char* label;
  int folders;    // folders added below the top
  int max_depth;  // deepest nesting below the top
};

// Adds `count` folders: chains of up to `max_depth`, names cycling through the scripts.
ExpectedFolders BuildTree(messaging::PstStore& store, int count, int max_depth) {
  ExpectedFolders expected;
  for (const auto& info : messaging::DefaultFolders()) {
    expected[std::string(info.name)] = std::string(info.container_class);
  }
  int made = 0;
  for (int chain = 0; made < count; ++chain) {
    messaging::Folder parent = store.IpmSubtree();
    std::string path;
    for (int depth = 1; depth <= max_depth && made < count; ++depth) {
      const std::string name = std::string(kNames[(chain + depth) % std::size(kNames)]) + " " +
                               std::to_string(chain) + "." + std::to_string(depth);
      parent = parent.AddFolder(name);
      path += (path.empty() ? "" : "\\") + name;
      expected[path] = "IPF.Note";
      ++made;
    }
  }
  return expected;
}

class FolderTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(FolderTrees, CheckerAndReadersSeeExactlyTheFoldersWritten) {
  const TreeCase c = GetParam();
  ScratchDir dir;
  const auto path = dir / "tree.pst";
  ExpectedFolders expected;
  const auto start = std::chrono::steady_clock::now();
  {
    auto store = messaging::PstStore::Create(path, "Tree");
    expected = BuildTree(*store, c.folders, c.max_depth);
    store->Close();
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::cout << "[ figures  ] " << c.label << ": " << c.folders << " folders written in "
            << ms.count() << " ms, file " << std::filesystem::file_size(path) << " bytes\n";
  ASSERT_TRUE(CheckerClean(path));

  // Our own reading agrees too.
  auto store = messaging::PstStore::Open(path, false);
  for (const auto& [p, cls] : expected) {
    const auto f = store->FindFolder(p);
    ASSERT_TRUE(f) << p;
    EXPECT_EQ(f->container_class(), cls) << p;
  }
  testing::ExpectReadersSee(path, expected, dir.path());
}

INSTANTIATE_TEST_SUITE_P(Shapes, FolderTrees,
                         ::testing::Values(TreeCase{"none", 0, 1}, TreeCase{"one", 1, 1},
                                           TreeCase{"fifty_flat", 50, 1},
                                           TreeCase{"fifty_nested", 50, 5},
                                           TreeCase{"thirty_deep", 30, 30},
                                           TreeCase{"two_thousand", 2000, 30}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace mailvane::pst
