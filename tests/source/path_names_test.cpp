#include "source/path_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "source/relative_folder.h"
#include "source/temp_files.h"

namespace mailvane::source {
namespace {

namespace fs = std::filesystem;

TEST(PathNames, FileNameAndParentSplitAtTheLastSeparator) {
  EXPECT_EQ(FileNameOf("/Zimbra/Inbox/12.eml"), "12.eml");
  EXPECT_EQ(ParentPathOf("/Zimbra/Inbox/12.eml"), "/Zimbra/Inbox/");
  EXPECT_EQ(FileNameOf("12.eml"), "12.eml");
  EXPECT_EQ(ParentPathOf("12.eml"), "");
  EXPECT_EQ(FileNameOf("/Zimbra/Inbox/"), "");
  EXPECT_EQ(ParentPathOf("/Zimbra/Inbox/"), "/Zimbra/Inbox/");
  // A backslash is an ordinary character of a name here.
  EXPECT_EQ(FileNameOf("/Zimbra/a\\b.eml"), "a\\b.eml");
  EXPECT_EQ(FileNameOf(""), "");
  EXPECT_EQ(ParentPathOf("/"), "/");
}

TEST(PathNames, RelativeFolderDropsRootAndSeparators) {
  EXPECT_EQ(RelativeFolder("/Export/Inbox/1.eml"), "Export\\Inbox");
  EXPECT_EQ(RelativeFolder("/Export/1.eml"), "Export");
  EXPECT_EQ(RelativeFolder("/1.eml"), "");
  EXPECT_EQ(RelativeFolder("1.eml"), "");
  EXPECT_EQ(RelativeFolder("/Export/Inbox/"), "Export\\Inbox");
  // Doubled separators would otherwise give a folder with an empty name.
  EXPECT_EQ(RelativeFolder("//data//Export///Inbox/1.eml"), "data\\Export\\Inbox");
}

TEST(PathNames, SplitSuffixesComeOffEveryFolderName) {
  EXPECT_EQ(WithoutSplitSuffixes("Export\\Inbox!3"), "Export\\Inbox");
  EXPECT_EQ(WithoutSplitSuffixes("Export!1\\Sent!18\\Old!2"), "Export\\Sent\\Old");
  EXPECT_EQ(WithoutSplitSuffixes("Inbox"), "Inbox");
  EXPECT_EQ(WithoutSplitSuffixes(""), "");
  // Only "!" followed by digits alone, with a name before it, is the split ending.
  EXPECT_EQ(WithoutSplitSuffixes("Wow!\\Big!1a\\!3\\A!!2"), "Wow!\\Big!1a\\!3\\A!");
  EXPECT_EQ(WithoutSplitSuffixes(RelativeFolder("/x/Inbox!13/0000041942-Fwd_ a.eml")), "x\\Inbox");
}

TEST(PathNames, FileExistsOnlyForThingsThatAreNotFolders) {
  const std::string folder = TempFolderPath();
  ASSERT_FALSE(folder.empty());
  EXPECT_FALSE(FileExists(folder));
  EXPECT_FALSE(FileExists(folder + "mailvane-no-such-file-" + std::to_string(::getpid())));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(std::string("/etc/passwd/not-a-folder")));

  const std::string file = MakeTempFileName("ZIM");
  ASSERT_FALSE(file.empty());
  EXPECT_TRUE(FileExists(file));
  const std::string dangling = file + ".link";
  fs::create_symlink(file + ".gone", dangling);
  EXPECT_FALSE(FileExists(dangling));
  fs::remove(dangling);
  fs::remove(file);
}

TEST(TempFiles, NamesAreUniqueCreatedAndShaped) {
  const std::string folder = TempFolderPath();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');

  std::string first_why;
  const std::string first = MakeTempFileName("ZIM", &first_why);
  const std::string second = MakeTempFileName("ZIM");
  ASSERT_FALSE(first.empty()) << first_why;
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const auto& path : {first, second}) {
    EXPECT_EQ(ParentPathOf(path), folder);
    const std::string name = FileNameOf(path);
    EXPECT_EQ(name.rfind("ZIM", 0), 0u) << name;
    EXPECT_TRUE(name.ends_with(".TMP")) << name;
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    fs::remove(path);
  }
}

TEST(TempFiles, FailuresSayWhy) {
  std::string why;
  EXPECT_EQ(MakeTempFileName("../x", &why), "");
  EXPECT_NE(why.find("separator"), std::string::npos) << why;

  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  ::setenv("TMPDIR", "/proc/self/no-such-folder", 1);
  why.clear();
  const std::string made = MakeTempFileName("ZIM", &why);
  if (saved != nullptr) {
    ::setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(made, "");
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace mailvane::source
