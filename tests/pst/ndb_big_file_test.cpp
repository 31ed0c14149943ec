// The map pages of big files sit where readers that maintain them look, with nothing of
// ours on top of them. The placement is checked on the allocation map; a real store past
// 8 GB (the second FPMap) is written only when MAILVANE_BIG_FILE_TESTS is set: though
// sparse, it costs 40,000 scattered page writes (160 MB on disk, minutes on a busy disk),
// and is left there for other readers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <set>

#include "base/little_endian.h"
#include "pst/ndb/pst_node_database.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

std::array<std::uint8_t, 512> PageAt(const std::filesystem::path& path, std::uint64_t ib) {
  std::array<std::uint8_t, 512> page{};
  int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::pread(fd, page.data(), page.size(), static_cast<off_t>(ib)), 512);
  ::close(fd);
  return page;
}

TEST(NdbBigFile, AllocationKeepsOffTheMapPagesOfEveryInterval) {
  // Absolute offsets, not the layout's own arithmetic.
  EXPECT_EQ(ndb::FMapOffset(128), 0x1F04800u);
  EXPECT_EQ(ndb::FMapOffset(624), 0x9724800u);
  EXPECT_EQ(ndb::FPMapOffset(8192), 0x7C004A00u);
  EXPECT_EQ(ndb::FPMapOffset(39936), 0x25C804A00u);

  const struct {
    std::uint64_t k;
    std::set<std::uint64_t> pages;  // map page slots of the interval, in 512-byte units
  } kCases[] = {
      {1, {0}},          {8, {0, 1}},           {128, {0, 1, 2}},   {624, {0, 1, 2}},
      {8192, {0, 1, 3}}, {39936, {0, 1, 3}},    {71680, {0, 1, 3}}, {72192, {0, 1}},
  };
  ndb::AllocationMap map(1);
  const std::uint64_t low = map.Allocate(512, 512);
  for (const auto& c : kCases) {
    map.StartAt(c.k);
    auto bits = map.Bits(c.k);
    for (std::uint64_t page = 0; page < 4; ++page) {
      EXPECT_EQ(bits[page], c.pages.count(page) ? 0xFF : 0x00) << "interval " << c.k << " page " << page;
    }
    // Whole pages fill the interval from its first free slot, around the map pages.
    std::set<std::uint64_t> got;
    for (int i = 0; i < 6; ++i) got.insert((map.Allocate(512, 512) - ndb::AMapOffset(c.k)) / 512);
    std::uint64_t expected = 0;
    for (std::uint64_t slot : got) {
      while (c.pages.count(expected)) ++expected;
      EXPECT_EQ(slot, expected++) << "interval " << c.k;
    }
  }
  // Space freed below the start is not drawn from again.
  map.Free(low, 512);
  EXPECT_GE(map.Allocate(64, 64), ndb::AMapOffset(72192));
}

TEST(NdbBigFile, StorePastEightGigabytesReadsBack) {
  const char* keep = std::getenv("MAILVANE_BIG_FILE_TESTS");
  if (!keep) GTEST_SKIP() << "set MAILVANE_BIG_FILE_TESTS=DIR to write a 9.5 GB sparse store there";
  testing::ScratchDir dir;
  // Left in DIR for readers outside the test suite (a strict checker, Outlook).
  const auto path = std::filesystem::path(keep) / "big.pst";
  std::filesystem::remove(path);
  // Messages go just before each interval, so blocks run across its map pages.
  const std::uint64_t kStarts[] = {120, 8190, 39934};
  constexpr int kPerStart = 12;
  {
    auto store = messaging::PstStore::Create(path, "big");
    auto& db = dynamic_cast<ndb::PstNodeDatabase&>(store->db());
    messaging::Folder folder = store->IpmSubtree().AddFolder("Far");
    int n = 0;
    for (std::uint64_t k : kStarts) {
      db.PlaceNewSpaceFrom(k);
      for (int i = 0; i < kPerStart; ++i, ++n) {
        messaging::Message m(folder);
        testing::SetMail(m.content(), "Far " + std::to_string(n), std::string(60000, 'a' + n % 26));
        m.Save();
      }
      store->Commit();
    }
    store->Close();
  }
  ASSERT_GT(std::filesystem::file_size(path), 0x25C804400u);

  // Absolute offsets, not the layout's own arithmetic: the first FMap and both FPMaps.
  const struct {
    std::uint64_t ib;
    std::uint8_t type;
  } kPages[] = {
      {0x1F04400, 0x84}, {0x1F04600, 0x83}, {0x1F04800, 0x82},   // interval 128
      {0x7C004400, 0x84}, {0x7C004600, 0x83}, {0x7C004A00, 0x85},  // interval 8192
      {0x25C804400, 0x84}, {0x25C804600, 0x83}, {0x25C804A00, 0x85},  // interval 39936
  };
  for (const auto& p : kPages) {
    auto page = PageAt(path, p.ib);
    EXPECT_EQ(page[496], p.type) << std::hex << p.ib;
    EXPECT_EQ(base::Get64(page.data() + 504), p.ib) << std::hex << p.ib;  // map pages: BID = offset
  }
  for (std::uint64_t amap : {0x7C004400ull, 0x25C804400ull}) {
    EXPECT_EQ(PageAt(path, amap)[100], 0xFF) << "no data was placed after " << std::hex << amap;
  }

  EXPECT_TRUE(testing::Clean(path));
  if (testsupport::HavePypff()) {
    const auto r = testsupport::ReadMessagesWithPypff(path);
    EXPECT_TRUE(r.ok) << r.run.err;
    EXPECT_EQ(r.messages.size(), std::size(kStarts) * kPerStart);
  }
  if (testsupport::HaveProgram("readpst")) {
    const auto r = testsupport::ReadWithReadpst(path, dir / "readpst");
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
  }
}

}  // namespace
}  // namespace mailvane::pst
