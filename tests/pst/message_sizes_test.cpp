// Values of every size: bodies from empty to 20 MB, up to 50 attachments from 0 bytes to
// 100 MB (the largest streamed from a file), names and bodies in several scripts, and
// messages embedded three deep; each store checked by our checker and read back by us and
// by the independent readers.
#include <gtest/gtest.h>

#include <fstream>

#include "pst/message_reader_support.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::Pattern;
using testing::ScratchDir;

// The 100 MB attachment costs minutes under AddressSanitizer; it runs in the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

void ExpectEveryReaderAgrees(const std::filesystem::path& path, const std::vector<std::pair<ndb::Nid, messaging::MessageContent>>& saved,
                             const std::filesystem::path& work) {
  ASSERT_TRUE(testing::ItemsClean(path));
  auto store = messaging::PstStore::Open(path, false);
  for (const auto& [nid, content] : saved) testing::ExpectSameContent(content, messaging::ReadMessage(*store, nid));
  bool ok = false;
  const auto seen = testing::ReadItemsWithPypff(path, ok);
  if (ok) {
    for (const auto& [nid, content] : saved) testing::ExpectPypffSees(*store, seen, nid, content);
  }
  if (testsupport::HaveProgram("pffexport")) {
    std::filesystem::create_directories(work / "pffexport");
    const auto r = testsupport::ReadWithPffexport(path, work / "pffexport");
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
  }
}

TEST(MessageSizes, BodiesFromEmptyToTwentyMegabytes) {
  ScratchDir dir;
  const auto path = dir / "bodies.pst";
  std::vector<std::pair<ndb::Nid, messaging::MessageContent>> saved;
  {
    auto store = messaging::PstStore::Create(path, "bodies");
    const std::string unit = "Grüße — Привет — 你好 — שלום — 🙂 ";
    for (std::size_t size : {std::size_t{0}, std::size_t{1024}, std::size_t{100 * 1024}, std::size_t{20 << 20}}) {
      std::string body;
      while (body.size() < size) body += unit;
      body.resize(size > 0 ? size - size % 2 : 0);
      while (!body.empty() && (static_cast<unsigned char>(body.back()) & 0xC0) == 0x80) body.pop_back();
      if (!body.empty() && static_cast<unsigned char>(body.back()) >= 0xC0) body.pop_back();
      messaging::Message m(store->GetDefaultFolder(messaging::DefaultFolder::kInbox));
      testing::SetMail(m.content(), "Body of " + std::to_string(size) + " bytes", body);
      m.content().props.Set(messaging::kPrHtml, ltp::PropValue::Binary(std::vector<std::uint8_t>(body.begin(), body.end())));
      m.Save();
      saved.emplace_back(m.nid(), std::move(m.content()));
    }
    store->Close();
  }
  ExpectEveryReaderAgrees(path, saved, dir.path());
}

TEST(MessageSizes, FiftyAttachmentsOfEverySizeAndALargeFile) {
  ScratchDir dir;
  const auto path = dir / "attachments.pst";
  const std::vector<std::size_t> sizes = {0, 1, 100, 3580, 3581, 8176, 8177, 65536, 1 << 20, 9 << 20};
  const char* names[] = {"empty.bin", "один.txt", "図表.png", "שלום.doc", "ελληνικά.pdf", "emoji 🙂.txt",
                         "plain.csv", "spaces in name.zip", "ümlaut.xlsx", "última.bin"};
  std::vector<std::pair<ndb::Nid, messaging::MessageContent>> saved;
  const std::uint64_t big = kSanitized ? (3 << 20) : (100ull << 20);
  std::vector<std::uint8_t> big_bytes;
  const auto chunk = Pattern(1 << 20, 7);
  for (std::uint64_t i = 0; i < big >> 20; ++i) big_bytes.insert(big_bytes.end(), chunk.begin(), chunk.end());
  {
    auto store = messaging::PstStore::Create(path, "attachments");
    messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{50}}) {
      messaging::Message m(inbox);
      testing::SetMail(m.content(), std::to_string(count) + " attachments", "body");
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t size = sizes[i % sizes.size()] / (i >= sizes.size() ? 4 : 1);
        m.content().attachments.push_back(testing::FileAttachment(
            std::to_string(i) + "-" + names[i % 10], Pattern(size, static_cast<std::uint32_t>(i))));
      }
      m.Save();
      saved.emplace_back(m.nid(), std::move(m.content()));
    }
    messaging::Message large(inbox);
    testing::SetMail(large.content(), "A large file", "in many blocks");
    large.content().attachments.push_back(testing::FileAttachment("big.bin", std::move(big_bytes)));
    large.Save();
    const std::int32_t attach_size = large.content().attachments[0].props.Find(messaging::kPrAttachSize)->AsInt32();
    EXPECT_GT(static_cast<std::uint64_t>(attach_size), big);
    saved.emplace_back(large.nid(), std::move(large.content()));
    store->Close();
  }
  ExpectEveryReaderAgrees(path, saved, dir.path());
  // The large file's bytes, read back through our reader and pypff.
  auto store = messaging::PstStore::Open(path, false);
  const messaging::MessageContent back = messaging::ReadMessage(*store, saved.back().first);
  ASSERT_EQ(back.attachments.size(), 1u);
  EXPECT_EQ(back.attachments[0].bytes.size(), big);
  EXPECT_TRUE(std::equal(back.attachments[0].bytes.begin(), back.attachments[0].bytes.begin() + (1 << 20),
                         Pattern(1 << 20, 7).begin()));
  bool ok = false;
  const auto seen = testing::ReadItemsWithPypff(path, ok);
  if (ok) {
    ASSERT_EQ(seen.at(saved.back().first).attachment_sizes.size(), 1u);
    EXPECT_EQ(seen.at(saved.back().first).attachment_sizes[0], big);
  }
}

messaging::MessageContent Level(int depth) {
  messaging::MessageContent m;
  testing::SetMail(m, "Level " + std::to_string(depth), "Body at depth " + std::to_string(depth) + " — уровень");
  m.recipients.push_back(testing::Recipient("Reader " + std::to_string(depth), "r" + std::to_string(depth) + "@example.org", messaging::kRecipientTo));
  m.attachments.push_back(testing::FileAttachment("file-" + std::to_string(depth) + ".txt",
                                                  Pattern(100 + 5000 * static_cast<std::size_t>(depth))));
  if (depth < 3) {
    messaging::AttachmentContent e;
    e.props.Set(messaging::kPrDisplayName, ltp::PropValue::String("Level " + std::to_string(depth + 1)));
    e.props.Set(messaging::kPrAttachMimeTag, ltp::PropValue::String("message/rfc822"));
    e.embedded = std::make_unique<messaging::MessageContent>(Level(depth + 1));
    m.attachments.push_back(std::move(e));
  }
  return m;
}

TEST(MessageSizes, MessagesEmbeddedThreeDeepSavedTwice) {
  ScratchDir dir;
  const auto path = dir / "embedded.pst";
  std::vector<std::pair<ndb::Nid, messaging::MessageContent>> saved;
  {
    auto store = messaging::PstStore::Create(path, "embedded");
    messaging::Message m(store->GetDefaultFolder(messaging::DefaultFolder::kInbox));
    m.content() = Level(0);
    m.Save();
    // Saved again one level shallower: the old tree's blocks must all be released.
    m.content().attachments[1].embedded->attachments.pop_back();
    m.content().attachments[1].embedded->props.Set(messaging::kPrSubject, ltp::PropValue::String("Level 1, second save"));
    m.Save();
    m.content().attachments[1].embedded = std::make_unique<messaging::MessageContent>(Level(1));
    m.Save();
    saved.emplace_back(m.nid(), std::move(m.content()));
    store->Close();
  }
  ExpectEveryReaderAgrees(path, saved, dir.path());
  const auto files = testing::ReadpstFiles(path, dir / "readpst");
  std::string all;
  for (const auto& [name, text] : files) all += text;
  if (!files.empty()) {
    for (int d = 0; d <= 3; ++d) {
      EXPECT_NE(all.find("Subject: Level " + std::to_string(d)), std::string::npos) << "depth " << d;
      EXPECT_NE(all.find("Body at depth " + std::to_string(d) + " — уровень"), std::string::npos) << "depth " << d;
    }
  }
}

}  // namespace
}  // namespace mailvane::pst
