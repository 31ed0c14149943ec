#include "source/path_names.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "source/relative_folder.h"
#include "support/files.h"

namespace mailvane::source {
namespace {

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
