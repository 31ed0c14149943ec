// Faults the fuzz targets found, each kept fixed by a direct test (the inputs themselves
// are in the targets' seed corpora, which every build replays).
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "mime/mime_parser.h"
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

// GMime refused the null buffer of an empty view with critical warnings and parsed no
// stream at all; an empty input is an empty message.
TEST(FuzzFindingsTest, EmptyBytesParseAsAMessageThroughARealStream) {
  ::testing::internal::CaptureStderr();
  const mime::ParsedMessage message = mime::ParseMimeBytes(std::string_view());
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(warnings.find("CRITICAL"), std::string::npos) << warnings;
  EXPECT_TRUE(message.attachments.empty());
}

}  // namespace
}  // namespace mailvane::reliability
