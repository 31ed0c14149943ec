#include "pst/ndb/page.h"

#include <cstdio>

#include "pst/ndb/crc32.h"

namespace mailvane::pst::ndb {

std::string HexId(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

void SealPage(std::span<std::uint8_t> page, PageType type, std::uint64_t ib, Bid bid) {
  std::uint8_t* t = page.data() + kPageDataSize;
  t[0] = type;
  t[1] = type;
  Put16(t + 2, ComputeSig(ib, bid));
  Put32(t + 4, Crc32(page.first(kPageDataSize)));
  Put64(t + 8, bid);
}

std::string PageProblem(std::span<const std::uint8_t> page, PageType type, std::uint64_t ib,
                        Bid bid) {
  const std::uint8_t* t = page.data() + kPageDataSize;
  std::string where = " of the page at " + HexId(ib);
  if (t[0] != type) {
    return "ptype" + where + " is " + HexId(t[0]) + ", expected " + HexId(type);
  }
  if (t[1] != type) return "ptypeRepeat" + where + " is " + HexId(t[1]) + ", not ptype";
  if (Get64(t + 8) != bid) {
    return "BID" + where + " is " + HexId(Get64(t + 8)) + ", expected " + HexId(bid);
  }
  // The special map pages carry wSig 0, which is what ComputeSig gives when BID == IB.
  if (Get16(t + 2) != ComputeSig(ib, bid)) {
    return "signature" + where + " is " + HexId(Get16(t + 2)) + ", expected " +
           HexId(ComputeSig(ib, bid));
  }
  std::uint32_t crc = Crc32(page.first(kPageDataSize));
  if (Get32(t + 4) != crc) {
    return "CRC" + where + " is " + HexId(Get32(t + 4)) + ", computed " + HexId(crc);
  }
  return {};
}

void SealBlock(std::span<std::uint8_t> block, std::size_t cb, std::uint64_t ib, Bid bid) {
  std::uint8_t* t = block.data() + block.size() - kBlockTrailerSize;
  Put16(t, static_cast<std::uint16_t>(cb));
  Put16(t + 2, ComputeSig(ib, bid));
  Put32(t + 4, Crc32(block.first(cb)));
  Put64(t + 8, bid);
}

std::string BlockProblem(std::span<const std::uint8_t> block, std::size_t cb, std::uint64_t ib,
                         Bid bid) {
  const std::uint8_t* t = block.data() + block.size() - kBlockTrailerSize;
  std::string where = " of block " + HexId(bid) + " at " + HexId(ib);
  if (Get16(t) != cb) {
    return "trailer cb" + where + " is " + std::to_string(Get16(t)) + ", the BBT says " +
           std::to_string(cb);
  }
  if (BidKey(Get64(t + 8)) != BidKey(bid)) {
    return "trailer BID" + where + " is " + HexId(Get64(t + 8));
  }
  if (Get16(t + 2) != ComputeSig(ib, Get64(t + 8))) {
    return "signature" + where + " is " + HexId(Get16(t + 2)) + ", expected " +
           HexId(ComputeSig(ib, Get64(t + 8)));
  }
  std::uint32_t crc = Crc32(block.first(cb));
  if (Get32(t + 4) != crc) {
    return "CRC" + where + " is " + HexId(Get32(t + 4)) + ", computed " + HexId(crc);
  }
  return {};
}

}  // namespace mailvane::pst::ndb
