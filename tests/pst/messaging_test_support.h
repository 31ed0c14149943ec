// Shared bits of the store and checker tests: the checker verdict as a readable message, and a check with every independent reader that the folders written
// are exactly the folders they list.
#pragma once

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "pst/check/pst_checker.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::pst::testing {

using testsupport::ReferenceDir;
using testsupport::ScratchDir;

inline ::testing::AssertionResult CheckerClean(const std::filesystem::path& pst) {
  const check::CheckResult r = check::CheckPstFile(pst);
  if (r.clean()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << check::FormatFindings(r);
}

// Folder path ("\"-separated below the top of the folder tree) -> container class.
using ExpectedFolders = std::map<std::string, std::string>;

// libpff 20180714 decodes UTF-16 surrogate pairs into the wrong code point (U+1F4C1 comes
// back as U+1F0C2; readpst and our reader get it right), so names are compared with every
// character outside the BMP masked when libpff is the reader.
inline std::string MaskAstral(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    if ((static_cast<unsigned char>(s[i]) & 0xF8) == 0xF0 && i + 3 < s.size()) {
      out += '?';
      i += 4;
    } else {
      out += s[i++];
    }
  }
  return out;
}
inline ExpectedFolders MaskAstral(const ExpectedFolders& in) {
  ExpectedFolders out;
  for (const auto& [k, v] : in) out[MaskAstral(k)] = v;
  return out;
}

// Every reader must list exactly `expected` below "Top of Personal Folders", with no error
// and no skipped item. `work` is a scratch folder for the exports.
inline void ExpectReadersSee(const std::filesystem::path& pst, const ExpectedFolders& expected,
                             const std::filesystem::path& work) {
  using namespace mailvane::testsupport;
  const std::string top = "Top of Personal Folders";
  if (HavePypff()) {
    const PypffResult r = ReadWithPypff(pst);
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
    ExpectedFolders seen;
    for (const auto& f : r.folders) {
      if (f.path.empty() || f.path[0] != top) continue;
      std::string p;
      for (std::size_t i = 1; i < f.path.size(); ++i) p += (i > 1 ? "\\" : "") + f.path[i];
      if (!p.empty()) seen[p] = f.container_class.value_or("");
    }
    EXPECT_EQ(MaskAstral(seen), MaskAstral(expected)) << "pypff";
  }
  if (HaveProgram("pffinfo")) {
    const PffinfoResult r = ReadWithPffinfo(pst);
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
  }
  if (HaveProgram("pffexport")) {
    const PffexportResult r = ReadWithPffexport(pst, work);
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
    std::vector<std::string> want;
    for (const auto& [p, cls] : expected) want.push_back(MaskAstral(top + "\\" + p));
    std::vector<std::string> got;
    for (const auto& f : r.folders) {
      if (f.rfind(top + "\\", 0) == 0) got.push_back(MaskAstral(f));
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << "pffexport";
  }
  if (HaveProgram("readpst")) {
    const ReadpstResult r = ReadWithReadpst(pst, work / "readpst");
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
    // readpst names each folder below the top once, by its own name.
    std::vector<std::string> want;
    for (const auto& [p, cls] : expected) want.push_back(p.substr(p.rfind('\\') + 1));
    std::vector<std::string> got = r.processed_folders;
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want) << "readpst";
  }
}

}  // namespace mailvane::pst::testing
