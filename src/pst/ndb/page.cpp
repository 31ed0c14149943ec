#include "pst/ndb/page.h"

#include <cstdio>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/crc32.h"

namespace mailvane::pst::ndb {

void SealPage(std::span<std::uint8_t> page, PageType type, std::uint64_t ib, Bid bid) {
  std::uint8_t* t = page.data() + kPageDataSize;
  t[0] = type;
  t[1] = type;
  base::Put16(t + 2, ComputeSig(ib, bid));
  base::Put32(t + 4, Crc32(page.first(kPageDataSize)));
  base::Put64(t + 8, bid);
}

std::string PageProblem(std::span<const std::uint8_t> page, PageType type, std::uint64_t ib,
                        Bid bid) {
  const std::uint8_t* t = page.data() + kPageDataSize;
  std::string where = " of the page at " + base::Hex(ib);
  if (t[0] != type) {
    return "ptype" + where + " is " + base::Hex(t[0]) + ", expected " + base::Hex(type);
  }
  if (t[1] != type) return "ptypeRepeat" + where + " is " + base::Hex(t[1]) + ", not ptype";
  if (base::Get64(t + 8) != bid) {
    return "BID" + where + " is " + base::Hex(base::Get64(t + 8)) + ", expected " + base::Hex(bid);
  }
  // The special map pages carry wSig 0, which is what ComputeSig gives when BID == IB.
  if (base::Get16(t + 2) != ComputeSig(ib, bid)) {
    return "signature" + where + " is " + base::Hex(base::Get16(t + 2)) + ", expected " +
           base::Hex(ComputeSig(ib, bid));
  }
  std::uint32_t crc = Crc32(page.first(kPageDataSize));
  if (base::Get32(t + 4) != crc) {
    return "CRC" + where + " is " + base::Hex(base::Get32(t + 4)) + ", computed " + base::Hex(crc);
  }
  return {};
}

void SealBlock(std::span<std::uint8_t> block, std::size_t cb, std::uint64_t ib, Bid bid) {
  std::uint8_t* t = block.data() + block.size() - kBlockTrailerSize;
  base::Put16(t, static_cast<std::uint16_t>(cb));
  base::Put16(t + 2, ComputeSig(ib, bid));
  base::Put32(t + 4, Crc32(block.first(cb)));
  base::Put64(t + 8, bid);
}

std::string BlockProblem(std::span<const std::uint8_t> block, std::size_t cb, std::uint64_t ib,
                         Bid bid) {
  const std::uint8_t* t = block.data() + block.size() - kBlockTrailerSize;
  std::string where = " of block " + base::Hex(bid) + " at " + base::Hex(ib);
  if (base::Get16(t) != cb) {
    return "trailer cb" + where + " is " + std::to_string(base::Get16(t)) + ", the BBT says " +
           std::to_string(cb);
  }
  if (BidKey(base::Get64(t + 8)) != BidKey(bid)) {
    return "trailer BID" + where + " is " + base::Hex(base::Get64(t + 8));
  }
  if (base::Get16(t + 2) != ComputeSig(ib, base::Get64(t + 8))) {
    return "signature" + where + " is " + base::Hex(base::Get16(t + 2)) + ", expected " +
           base::Hex(ComputeSig(ib, base::Get64(t + 8)));
  }
  std::uint32_t crc = Crc32(block.first(cb));
  if (base::Get32(t + 4) != crc) {
    return "CRC" + where + " is " + base::Hex(base::Get32(t + 4)) + ", computed " + base::Hex(crc);
  }
  return {};
}

}  // namespace mailvane::pst::ndb
