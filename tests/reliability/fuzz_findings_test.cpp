// Faults the fuzz targets found, each kept fixed by a direct test (the inputs themselves
// are in the targets' seed corpora, which every build replays).
#include <string>

#include <gtest/gtest.h>

#include "zimbra/attachment_staging.h"

namespace mailvane::reliability {
namespace {

TEST(FuzzFindingsTest, StagingNameOfDotsAndAnOverlongExtensionIsNeverTheFolderItself) {
  std::string name = "..base64";
  for (int i = 0; i < 200; ++i) name += "\xc3\xb8";  // "ø": the extension grows past its limit
  for (const std::string& n : {name, ".." + std::string(300, 'x'), "." + std::string(300, 'y')}) {
    const std::string safe = zimbra::SafeFileName(n);
    EXPECT_NE(safe, ".");
    EXPECT_NE(safe, "..");
    EXPECT_FALSE(safe.empty());
    EXPECT_EQ(safe.find('/'), std::string::npos);
  }
}

}  // namespace
}  // namespace mailvane::reliability
