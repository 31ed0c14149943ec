// Faults the fuzz targets found, each kept fixed by a direct test (the inputs themselves
// are in the targets' seed corpora, which every build replays).
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "mime/mime_parser.h"

namespace mailvane::reliability {
namespace {

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
