// Real-world messages nobody on the team wrote (from Debian's packages, read where they
// are installed), imported into one store and read back by pypff: every message arrives,
// with the subject and the attachments that the MIME layer parsed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "mime/mime_parser.h"
#include "pst/check/pst_checker.h"
#include "pst/property_tags.h"
#include "store/pst_session.h"
#include "support/pst_readers.h"

namespace mailvane::store {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  for (const char* dir : {"/usr/lib/python3.11/test/test_email/data",
                          "/usr/share/doc/libmime-explode-perl/examples/testmsgs"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      const std::string ext = e.path().extension().string();
      if (e.is_regular_file() && (ext == ".txt" || ext == ".msg" || ext == ".eml")) {
        files.push_back(e.path());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// What pypff_items.py prints for one message: subject and attachment sizes.
std::string Expected(const mime::ParsedMessage& m) {
  const pst::PropValue* subject = m.Find(pst::kPrSubject);
  std::string line = subject ? subject->AsString() : std::string();
  line += "\t";
  for (std::size_t i = 0; i < m.attachments.size(); ++i) {
    if (i) line += ",";
    line += std::to_string(m.attachments[i].embedded ? -1 : static_cast<long>(m.attachments[i].data.size()));
  }
  return line;
}

TEST(ImportCorpus, EveryRealMessageArrivesWithItsSubjectAndAttachments) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "libpython3.11-testsuite / libmime-explode-perl not installed";
  const fs::path dir = fs::temp_directory_path() / ("mailvane-corpus-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path pst = dir / "corpus.pst";

  std::vector<std::string> expected;
  {
    auto session = CreatePstSession();
    session->Logon();
    Store& store = session->AddPSTStore(pst, kStoreFormatUnicode, "Corpus");
    auto inbox = store.GetDefaultFolder(DefaultFolder::kInbox);
    for (const fs::path& file : files) {
      auto item = inbox->AddItem(ItemType::kMessage);
      ASSERT_NO_THROW(item->Import(file, kImportRfc822)) << file;
      item->Save();
      expected.push_back(Expected(mime::ParseMimeFile(file)));
    }
    session->Logoff();
  }
  const auto check = pst::CheckPstFile(pst);
  EXPECT_TRUE(check.clean()) << pst::FormatFindings(check);

  if (!testsupport::HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  const char* source_dir = std::getenv("MAILVANE_SOURCE_DIR");
  ASSERT_NE(source_dir, nullptr);
  const auto listed = testsupport::RunCommand(
      {"/usr/bin/python3", (fs::path(source_dir) / "tests/store/pypff_items.py").string(),
       pst.string(), "--sizes"});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  std::vector<std::string> got;
  std::istringstream lines(listed.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("SIZES\t", 0) == 0) got.push_back(line.substr(6));
  }
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    // Subjects with line breaks or tabs cannot travel in this line format; compare the rest.
    if (expected[i].find_first_of("\r\n") != std::string::npos ||
        std::count(expected[i].begin(), expected[i].end(), '\t') != 1) {
      continue;
    }
    EXPECT_EQ(got[i], expected[i]) << files[i];
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace mailvane::store
