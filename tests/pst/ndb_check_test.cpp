#include "pst/check/ndb_check.h"

#include <gtest/gtest.h>

#include "ndb_test_util.h"

namespace mailvane::pst {
namespace {

using ndb_testing::Describe;

TEST(NdbCheckReference, OutlookFilesPassWithNotesAtMost) {
  auto dir = ndb_testing::ReferenceDir();
  if (!dir) GTEST_SKIP() << "reference files are not there";
  for (const char* name : {"test_unicode.pst", "sample1.pst", "submessage.pst"}) {
    auto findings = check::CheckNodeDatabase(*dir / name);
    EXPECT_FALSE(check::HasErrors(findings)) << name << "\n" << Describe(findings);
  }
}

}  // namespace
}  // namespace mailvane::pst
