// Values of every size and count: bodies up to 20 MB, up to 50 attachments from 0 bytes to
// 100 MB, messages embedded three deep and saved again, and 100,000 messages in one folder;
// each store checked by our checker and read back by us and the independent readers.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "pst/ltp/heap_on_node.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using testing::Pattern;
using testing::ScratchDir;

// The largest values cost minutes under AddressSanitizer; they run in the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

using Saved = std::vector<std::pair<ndb::Nid, messaging::MessageContent>>;

void Save(messaging::Message& m, Saved& saved) {
  m.Save();
  saved.emplace_back(m.nid(), std::move(m.content()));
}

TEST(MessageSizes, BodiesAndAttachmentsOfEverySize) {
  ScratchDir dir;
  const auto path = dir / "sizes.pst";
  Saved saved;
  const std::uint64_t big = kSanitized ? (3 << 20) : (100ull << 20);
  {
    auto store = messaging::PstStore::Create(path, "sizes");
    messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
    const std::string unit = "Grüße — Привет — 你好 — שלום — 🙂 ";
    for (std::size_t size : {std::size_t{0}, std::size_t{1024}, std::size_t{100 * 1024}, std::size_t{20 << 20}}) {
      std::string body;
      while (body.size() + unit.size() <= size) body += unit;  // whole characters only
      messaging::Message m(inbox);
      testing::SetMail(m.content(), "Body of " + std::to_string(size) + " bytes", body);
      m.content().props.Set(messaging::kPrHtml, ltp::PropValue::Binary(std::vector<std::uint8_t>(body.begin(), body.end())));
      Save(m, saved);
    }
    const std::size_t sizes[] = {0, 1, 100, 3580, 3581, 8176, 8177, 65536, 1 << 20, 9 << 20};
    const char* names[] = {"empty.bin", "один.txt", "図表.png", "שלום.doc", "ελληνικά.pdf", "emoji 🙂.txt",
                           "plain.csv", "spaces in name.zip", "ümlaut.xlsx", "última.bin"};
    for (std::size_t count : {std::size_t{1}, std::size_t{50}}) {
      messaging::Message m(inbox);
      testing::SetMail(m.content(), std::to_string(count) + " attachments", "body");
      for (std::size_t i = 0; i < count; ++i) {
        m.content().attachments.push_back(testing::FileAttachment(
            std::to_string(i) + "-" + names[i % 10], Pattern(sizes[i % 10] / (i >= 10 ? 4 : 1), static_cast<std::uint32_t>(i))));
      }
      Save(m, saved);
    }
    messaging::Message large(inbox);
    testing::SetMail(large.content(), "A large file", "in many blocks");
    large.content().attachments.push_back(testing::FileAttachment("big.bin", Pattern(big, 7)));
    large.Save();
    EXPECT_GT(static_cast<std::uint64_t>(large.content().attachments[0].props.Find(messaging::kPrAttachSize)->AsInt32()), big);
    saved.emplace_back(large.nid(), std::move(large.content()));
    store->Close();
  }
  testing::ExpectEveryReaderAgrees(path, saved, dir.path());
}

messaging::MessageContent Level(int depth) {
  messaging::MessageContent m;
  const std::string d = std::to_string(depth);
  testing::SetMail(m, "Level " + d, "Body at depth " + d + " — уровень");
  m.recipients.push_back(testing::Recipient("Reader " + d, "r" + d + "@example.org", messaging::kRecipientTo));
  m.attachments.push_back(testing::FileAttachment("file-" + d + ".txt", Pattern(100 + 5000 * static_cast<std::size_t>(depth))));
  if (depth < 3) {
    messaging::AttachmentContent e;
    e.props.Set(messaging::kPrDisplayName, ltp::PropValue::String("Level " + std::to_string(depth + 1)));
    e.props.Set(messaging::kPrAttachMimeTag, ltp::PropValue::String("message/rfc822"));
    e.embedded = std::make_unique<messaging::MessageContent>(Level(depth + 1));
    m.attachments.push_back(std::move(e));
  }
  return m;
}

TEST(MessageSizes, MessagesEmbeddedThreeDeepSavedAgain) {
  ScratchDir dir;
  const auto path = dir / "embedded.pst";
  Saved saved;
  {
    auto store = messaging::PstStore::Create(path, "embedded");
    messaging::Message m(store->GetDefaultFolder(messaging::DefaultFolder::kInbox));
    m.content() = Level(0);
    m.Save();
    // Saved again one level shallower, then whole again: the old trees' blocks must all be
    // released (the checker counts references).
    m.content().attachments[1].embedded->attachments.pop_back();
    m.content().attachments[1].embedded->props.Set(messaging::kPrSubject, ltp::PropValue::String("Level 1, second save"));
    m.Save();
    m.content().attachments[1].embedded = std::make_unique<messaging::MessageContent>(Level(1));
    Save(m, saved);
    store->Close();
  }
  testing::ExpectEveryReaderAgrees(path, saved, dir.path());
  const std::string all = testing::ReadpstText(path, dir / "readpst");
  for (int d = 0; d <= 3 && !all.empty(); ++d) {
    EXPECT_NE(all.find("Subject: Level " + std::to_string(d)), std::string::npos) << "depth " << d;
    EXPECT_NE(all.find("Body at depth " + std::to_string(d) + " — уровень"), std::string::npos) << "depth " << d;
  }
}

long PeakKilobytes() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The checker and pypff see every message and our reader each row in order: rows replaced
// between commits (one in a block written long ago, one in the block being filled) keep
// their places with the new cells, a reopened store appends to the table, the counts stay
// exact and the writer's peak memory flat (printed; the bound is generous, no time asserted).
TEST(MessageVolume, HundredThousandMessagesInOneFolder) {
  ScratchDir dir;
  const auto path = dir / "volume.pst";
  const int count = kSanitized ? 5000 : 100000;  // the sanitizer build checks correctness, not volume
  std::vector<std::string> subjects;
  std::vector<bool> unread;
  const auto start = std::chrono::steady_clock::now();
  const auto save = [&](messaging::Message& m, const std::string& subject, bool read, int at) {
    testing::SetMail(m.content(), subject, "Short body " + subject);
    m.content().props.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(read ? messaging::kMsgFlagRead : 0));
    m.Save();
    subjects.resize(std::max<std::size_t>(subjects.size(), at + 1));
    unread.resize(subjects.size());
    subjects[at] = subject;
    unread[at] = !read;
  };
  {
    auto store = messaging::PstStore::Create(path, "volume");
    messaging::Folder folder = store->IpmSubtree().AddFolder("Bulk");
    messaging::Message first(folder);
    for (int i = 0; i < count; ++i) {
      messaging::Message m(folder);
      m.content().recipients.push_back(testing::Recipient("To", "to@example.org", messaging::kRecipientTo));
      save(i == 0 ? first : m, "Message " + std::to_string(i), i % 2 != 0, i);
      if ((i + 1) % (count / 5) != 0) continue;
      save(m, "Replaced in the last block " + std::to_string(i), true, i);
      save(first, "Replaced " + std::to_string(i), i % 3 == 0, 0);
      store->Commit();
    }
    EXPECT_EQ(folder.content_count(), count);
    store->Close();
  }
  const long peak = PeakKilobytes();
  {
    auto store = messaging::PstStore::Open(path);
    messaging::Folder folder = *store->FindFolder("Bulk");
    for (int i = 0; i < 3; ++i) {
      messaging::Message m(folder);
      save(m, "After reopening " + std::to_string(i), false, count + i);
    }
    store->Close();
  }
  std::printf("[ figures  ] %d messages written in %.1f s, file %ju bytes, peak memory (VmHWM) %ld kB\n", count,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              static_cast<std::uintmax_t>(std::filesystem::file_size(path)), peak);
  if (!kSanitized) {
    EXPECT_LT(peak, 150 * 1024);
  }
  ASSERT_TRUE(testing::Clean(path));
  auto store = messaging::PstStore::Open(path, false);
  messaging::Folder folder = *store->FindFolder("Bulk");
  EXPECT_EQ(folder.content_count(), count + 3);
  EXPECT_EQ(folder.unread_count(), std::count(unread.begin(), unread.end(), true));
  const auto node = store->db().FindNode(ndb::WithType(folder.nid(), ndb::NidType::kContentsTable));
  std::vector<std::string> rows;
  for (const auto& row : messaging::ReadTable(store->db(), *node).rows) {
    rows.push_back(messaging::FindValue(row.cells, messaging::kPrSubject)->AsString());
  }
  EXPECT_TRUE(rows == subjects);
  // No reader checks the fill levels a heap's page 0 and bitmap pages give for the pages
  // after them, and a writer filling them in later relies on them.
  std::vector<std::vector<std::uint8_t>> pages;
  for (const ndb::Bid bid : store->db().DataLeaves(node->data)) pages.push_back(store->db().ReadBlock(bid));
  for (std::size_t i = 0; i < pages.size(); i += (i == 0 ? 8 : 128)) {
    const std::size_t at = i == 0 ? 8 : 2;
    for (std::size_t k = 0; k < (i == 0 ? 8u : 128u) && i + k < pages.size(); ++k) {
      const int level = (pages[i][at + k / 2] >> (k % 2 == 0 ? 0 : 4)) & 0xF;
      ASSERT_EQ(level, ltp::HeapFillLevel(ndb::kMaxBlockData - pages[i + k].size())) << "page " << i + k;
    }
  }
  if (!testsupport::HavePypff()) return;
  const auto r = testsupport::ReadWithPypff(path);
  const auto bulk = std::find_if(r.folders.begin(), r.folders.end(),
                                 [](const auto& f) { return !f.path.empty() && f.path.back() == "Bulk"; });
  ASSERT_NE(bulk, r.folders.end()) << r.run.out.substr(0, 2000) << r.run.err;
  EXPECT_EQ(bulk->messages, count + 3);
}

}  // namespace
}  // namespace mailvane::pst
