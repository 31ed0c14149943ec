// 100,000 small messages in one folder: the checker and pypff see them all, and the
// writer's peak memory stays flat (printed; the bound is generous, no time is asserted).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "pst/message_test_support.h"
#include "pst/messaging_test_support.h"
#include "support/pst_readers.h"

namespace mailvane::pst {
namespace {

long PeakKilobytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(MessageVolume, HundredThousandMessagesInOneFolder) {
  testing::ScratchDir dir;
  const auto path = dir / "volume.pst";
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kCount = 5000;  // the sanitizer build checks correctness, not volume
#else
  constexpr int kCount = 100000;
#endif
  const auto start = std::chrono::steady_clock::now();
  {
    auto store = messaging::PstStore::Create(path, "volume");
    messaging::Folder folder = store->IpmSubtree().AddFolder("Bulk");
    for (int i = 0; i < kCount; ++i) {
      messaging::Message m(folder);
      testing::SetMail(m.content(), "Message " + std::to_string(i), "Short body " + std::to_string(i));
      if (i % 2 == 0) m.content().props.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(0));
      m.content().recipients.push_back(testing::Recipient("To", "to@example.org", messaging::kRecipientTo));
      m.Save();
      if ((i + 1) % (kCount / 5) == 0) store->Commit();
    }
    EXPECT_EQ(folder.content_count(), kCount);
    EXPECT_EQ(folder.unread_count(), kCount / 2);
    store->Close();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long peak = PeakKilobytes();
  std::printf("[ figures  ] %d messages written in %.1f s, file %ju bytes, peak memory (VmHWM) %ld kB\n",
              kCount, seconds, static_cast<std::uintmax_t>(std::filesystem::file_size(path)), peak);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(peak, 150 * 1024);
#endif
  ASSERT_TRUE(testing::ItemsClean(path));
  if (testsupport::HavePypff()) {
    const char* script =
        "import sys, pypff\n"
        "f = pypff.file()\n"
        "f.open(sys.argv[1])\n"
        "def find(folder):\n"
        "    for sub in folder.sub_folders:\n"
        "        if sub.name == 'Bulk':\n"
        "            return sub\n"
        "        found = find(sub)\n"
        "        if found:\n"
        "            return found\n"
        "n = find(f.get_root_folder()).number_of_sub_messages\n"
        "print(n)\n";
    const auto r = testsupport::RunCommand({"/usr/bin/python3", "-c", script, path.string()});
    EXPECT_EQ(r.out, std::to_string(kCount) + "\n") << r.err;
  }
}

}  // namespace
}  // namespace mailvane::pst
