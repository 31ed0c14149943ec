// Faults around the node database (a killed run is the program tests'): writes and flushes
// that fail, a file removed while written, a name taken meanwhile, and damaged copies the
// checker must name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <system_error>
#include <thread>

#include "base/little_endian.h"
#include "pst/ndb/buffered_writer.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/file_io.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using testing::Describe;
using testing::Pattern;
using testing::ScratchDir;

// A failed write keeps the last commit and stops the engine: every point of failure in the
// second commit's writes is tried, half of them in the flush a read makes first.
TEST(NdbFailure, AFailedWriteKeepsTheLastCommitAndStopsTheEngine) {
  ScratchDir dir;
  for (int budget = 0; budget < 128; ++budget) {
    const bool reads = budget % 2 == 1;
    const auto path = dir / ("fail" + std::to_string(budget) + ".pst");
    testing::FaultPlan plan;
    auto db = ndb::NodeDatabase::Create(std::make_unique<testing::FaultyFile>(ndb::CreatePosixFile(path), plan));
    const ndb::Nid kept = db->AllocateNid(ndb::NidType::kNormalMessage);
    db->PutNode({kept, db->WriteData(Pattern(5000, 1)), 0, 0});
    db->Commit();
    plan.fail_at = plan.writes + budget / 2 + 1;
    bool failed = false;
    try {
      for (int i = 0; i < 200; ++i) {
        const ndb::Bid data = db->WriteData(Pattern(3000, 2));
        if (reads) (void)db->ReadData(data);
        db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), data, 0, 0});
      }
      db->DeleteNode(kept);
      db->Commit();
    } catch (const std::system_error&) {
      failed = true;
    }
    if (!failed) {
      EXPECT_GT(budget, 7);  // every write of that work has had its turn to fail
      if (reads) break;
      continue;
    }
    EXPECT_THROW(db->Commit(), ndb::FormatError) << budget;
    EXPECT_THROW(db->WriteBlock(Pattern(5, 5)), ndb::FormatError) << budget;
    db.reset();

    const auto findings = check::CheckNodeDatabase(path);
    EXPECT_FALSE(check::HasErrors(findings)) << budget << "\n" << Describe(findings);
    auto reread = ndb::NodeDatabase::Open(path, false);
    // Either the last commit, or (when only the write after the header failed) the new one.
    std::size_t count = 0;
    reread->ForEachNode([&](const ndb::NodeEntry&) { ++count; });
    auto node = reread->FindNode(kept);
    EXPECT_EQ(count, node ? 1u : 200u) << budget;
    if (node) {
      EXPECT_EQ(reread->ReadData(node->data), Pattern(5000, 1));
    }
  }
}

TEST(NdbFailure, AnUnnamedFileIsNamedOnlyWhenPublishedAndNeverOverAnother) {
  ScratchDir dir;
  const auto path = dir / "new.pst";
  ndb::UnnamedFile made = ndb::CreateUnnamedPosixFile(path);
  made.file->WriteAt(0, Pattern(100, 3));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(made.publish(), path);
  EXPECT_EQ(std::filesystem::file_size(path), 100u);
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // A name taken meanwhile (here a planted link) is neither replaced nor followed: the
  // file takes the next free name.
  const auto taken = dir / "taken.pst";
  ndb::UnnamedFile second = ndb::CreateUnnamedPosixFile(taken);
  std::filesystem::create_symlink(dir / "elsewhere", taken);
  EXPECT_EQ(second.publish(), dir / "taken (2).pst");
  EXPECT_TRUE(std::filesystem::is_symlink(taken));
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

// Writes to a file whose name was removed reach nobody: the next commit says so, and the
// database refuses every write after it.
TEST(NdbFailure, AFileRemovedWhileWrittenRefusesTheNextCommit) {
  ScratchDir dir;
  const auto path = dir / "gone.pst";
  auto db = ndb::NodeDatabase::Create(path);
  db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(Pattern(500, 1)), 0, ndb::kNidRootFolder});
  std::filesystem::remove(path);
  EXPECT_THROW(db->Commit(), std::system_error);
  EXPECT_NE(db->WriteFailure().find("removed"), std::string::npos) << db->WriteFailure();
  EXPECT_THROW(db->WriteData(Pattern(10, 2)), ndb::FormatError);
}

// Full buffers are written on a thread of their own: a write that fails there is raised
// by the next flush and by every call after it, and no buffer after it reaches the file.
TEST(NdbFailure, AWriteFailingOnTheWritingThreadIsRaisedLaterAndStopsTheWrites) {
  ScratchDir dir;
  testing::FaultPlan plan;
  plan.fail_at = 1;
  testing::FaultyFile file(ndb::CreatePosixFile(dir / "writer.bin"), plan);
  {
    ndb::BufferedWriter writer(file, 1024);
    const std::vector<std::uint8_t> bytes = Pattern(600, 1);
    writer.Write(0, bytes);
    bool raised = false;  // by a later call once the first write failed there, or by the flush
    try {
      writer.Write(4096, bytes);  // not next to the first: the first goes to the thread
      writer.WriteBlock(8192, bytes, 4, ndb::CryptMethod::kPermute);
      writer.Flush();
    } catch (const std::system_error&) {
      raised = true;
    }
    EXPECT_TRUE(raised);
    EXPECT_THROW(writer.Write(12288, bytes), std::system_error);
    EXPECT_THROW(writer.Flush(), std::system_error);
  }
  EXPECT_EQ(plan.writes, 1);
  EXPECT_EQ(file.Size(), 0u);
}

// Every few MB, the bytes written are synced on another thread while writes go on. A disk
// error is reported to that sync alone: the next flush (a commit's) must raise it.
TEST(NdbFailure, ADataSyncFailingInTheBackgroundFailsTheNextFlush) {
  ScratchDir dir;
  testing::FaultPlan plan;
  plan.on = testing::FaultOn::kSync;
  plan.fail_at = 1;
  testing::FaultyFile file(ndb::CreatePosixFile(dir / "sync.bin"), plan);
  {
    ndb::BufferedWriter writer(file, 64 * 1024);
    const std::vector<std::uint8_t> bytes = Pattern(64 * 1024, 3);
    std::uint64_t at = 0;
    bool raised = false;  // by a write once the sync failed, or else by the flush
    try {
      for (; at < (6 << 20); at += bytes.size()) writer.Write(at, bytes);
      writer.Flush();
    } catch (const std::system_error&) {
      raised = true;
    }
    EXPECT_TRUE(raised);
    EXPECT_THROW(writer.Write(at, bytes), std::system_error);
    EXPECT_THROW(writer.Flush(), std::system_error);
  }
  EXPECT_EQ(plan.syncs, 1);
  EXPECT_EQ(plan.injected, 1);
}

using Bytes = std::vector<std::uint8_t>;

// Damaged copies of a sound file: each kind of damage is named by the checker (as an
// error, or as a note where the file is still sound).
TEST(NdbDamage, EachKindOfDamageIsNamed) {
  ScratchDir dir;
  const auto sound = dir / "sound.pst";
  {
    auto db = ndb::NodeDatabase::Create(sound);
    for (std::uint32_t i = 0; i < 5; ++i) {
      db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(Pattern(300, i)), 0, ndb::kNidRootFolder});
    }
    const ndb::Bid tree = db->WriteSubnodeTree({{ndb::MakeNid(ndb::NidType::kLtp, 1), db->WriteData(Pattern(99, 9)), 0}});
    db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(Pattern(9000, 8)), tree, ndb::kNidRootFolder});
    db->Close();
  }
  ASSERT_TRUE(check::CheckNodeDatabase(sound).empty()) << Describe(check::CheckNodeDatabase(sound));
  const std::string file = testsupport::ReadFile(sound);
  const Bytes bytes(file.begin(), file.end());
  const std::uint64_t bbt = base::Get64(bytes.data() + 240);
  const std::uint64_t nbt = base::Get64(bytes.data() + 224);
  const std::uint64_t amap = ndb::kFirstAMapOffset;
  ASSERT_EQ(bytes[bbt + 491], 0) << "the test expects a one-page BBT";

  // The BBT entry (BID, IB, cb, cRef: 24 bytes) of a data block, or of an XBLOCK.
  auto entry = [&](Bytes& b, bool xblock) -> std::uint8_t* {
    for (std::size_t i = 0; i < b[bbt + 488]; ++i) {
      std::uint8_t* e = b.data() + bbt + 24 * i;
      if (ndb::IsInternal(base::Get64(e)) == xblock && (!xblock || b[base::Get64(e + 8)] == ndb::kBlockTypeData)) return e;
    }
    ADD_FAILURE() << "no such block";
    return b.data();
  };
  auto block = [&](Bytes& b) { return base::Get64(entry(b, false) + 8); };
  auto reseal = [](Bytes& b, std::uint64_t ib, ndb::PageType type) {
    ndb::SealPage(std::span(b).subspan(ib, ndb::kPageSize), type, ib, base::Get64(b.data() + ib + 504));
  };
  auto header = [](Bytes& b) {
    base::Put32(b.data() + 4, ndb::Crc32(std::span(b).subspan(8, 471)));
    base::Put32(b.data() + 524, ndb::Crc32(std::span(b).subspan(8, 516)));
  };
  auto amap_bit = [&](Bytes& b, std::uint64_t slot, bool set) {
    const auto bit = static_cast<std::uint8_t>(0x80u >> (slot % 8));
    b[amap + slot / 8] = static_cast<std::uint8_t>(set ? (b[amap + slot / 8] | bit) : (b[amap + slot / 8] & ~bit));
    reseal(b, amap, ndb::kPageAMap);
  };
  const std::uint64_t last_slot = ndb::kSlotsPerInterval - 1;
  const auto kError = check::Severity::kError;
  const auto kNote = check::Severity::kNote;
  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* named;
    check::Severity severity;
  } kCases[] = {
      {"block-byte", [&](Bytes& b) { b[block(b) + 10] ^= 0x01; }, "CRC of block", kError},
      {"block-signature", [&](Bytes& b) { b[block(b) + 320 - 14] ^= 0x40; }, "signature of block", kError},
      {"block-trailer-cb", [&](Bytes& b) { b[block(b) + 320 - 16] ^= 0x02; }, "trailer cb", kError},
      {"page-byte", [&](Bytes& b) { b[nbt + 40] ^= 0x10; }, "CRC of the page", kError},
      {"page-ptype", [&](Bytes& b) { b[nbt + 497] = 0x80; }, "ptypeRepeat", kError},
      {"page-signature", [&](Bytes& b) { b[bbt + 498] ^= 0x01; }, "signature of the page", kError},
      {"header-byte", [](Bytes& b) { b[100] ^= 0x01; }, "dwCRCPartial", kError},
      {"header-tail", [](Bytes& b) { b[520] ^= 0x01; }, "dwCRCFull", kError},
      {"truncated", [](Bytes& b) { b.resize(b.size() - 4096); }, "truncated", kError},
      {"amap-cleared", [&](Bytes& b) { amap_bit(b, (block(b) - amap) / ndb::kSlotSize, false); }, "in use but free in AMap", kError},
      {"amap-page-byte", [&](Bytes& b) { b[amap + 200] ^= 0x01; }, "AMap: CRC", kError},
      {"bbt-order", [&](Bytes& b) { std::swap_ranges(&b[bbt], &b[bbt + 24], &b[bbt + 24]), reseal(b, bbt, ndb::kPageBbt); },
       "does not follow", kError},
      {"refcount", [&](Bytes& b) { ++entry(b, false)[18], reseal(b, bbt, ndb::kPageBbt); }, "has cRef 3, expected 2", kError},
      {"dangling", [&](Bytes& b) { base::Put64(&b[nbt + 8], 0x7777770), reseal(b, nbt, ndb::kPageNbt); },  // a node's bidData
       "not in the BBT", kError},
      {"xblock-total",
       [&](Bytes& b) {
         const std::uint8_t* e = entry(b, true);
         const std::uint64_t ib = base::Get64(e + 8);
         const std::size_t cb = base::Get16(e + 16);
         base::Put32(b.data() + ib + 4, 9001);
         ndb::SealBlock(std::span(b).subspan(ib, ndb::BlockSizeOnDisk(cb)), cb, ib, base::Get64(e));
       },
       "lcbTotal 9001", kError},
      {"bid-next-b", [&](Bytes& b) { base::Put64(&b[516], 8), header(b); }, "bidNextB 0x8 is not above", kError},
      {"amap-leak",  // cbAMapFree kept in step
       [&](Bytes& b) { amap_bit(b, last_slot, true), base::Put64(&b[200], base::Get64(&b[200]) - ndb::kSlotSize), header(b); },
       "nothing references", kNote},
      {"amap-free-total", [&](Bytes& b) { amap_bit(b, last_slot, true); }, "cbAMapFree", kError},
      {"amap-valid1", [&](Bytes& b) { b[248] = 1, header(b); }, "not VALID_AMAP2", kError},
      // Maps declared invalid (a commit cut short) are not held against the file, whatever
      // state the interrupted rewrite left them in.
      {"amap-declared-invalid", [&](Bytes& b) { b[248] = ndb::kAMapInvalid, header(b), std::fill_n(&b[amap], 300, 0); },
       "declared invalid", kNote},
  };
  for (const auto& c : kCases) {
    Bytes copy = bytes;
    c.damage(copy);
    const auto path = dir / (std::string(c.what) + ".pst");
    testsupport::WriteFile(path, std::string(copy.begin(), copy.end()));
    const auto findings = check::CheckNodeDatabase(path);
    bool named = false;
    for (const check::Finding& f : findings) {
      named = named || (f.severity == c.severity && f.message.find(c.named) != std::string::npos);
    }
    EXPECT_TRUE(named) << c.what << ": expected \"" << c.named << "\" in\n" << Describe(findings);
    EXPECT_TRUE(c.severity == kError || !check::HasErrors(findings)) << c.what << "\n" << Describe(findings);
  }
}

}  // namespace
}  // namespace mailvane::pst
