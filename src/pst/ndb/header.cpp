#include "pst/ndb/header.h"

#include <cstdio>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ndb {

namespace {

constexpr std::uint8_t kMagic[4] = {'!', 'B', 'D', 'N'};
constexpr std::uint16_t kMagicClientPst = 0x4D53;
constexpr std::size_t kCrcPartialLength = 471;
constexpr std::size_t kCrcFullLength = 516;

}  // namespace

std::array<std::uint32_t, 32> InitialNidCounters() {
  std::array<std::uint32_t, 32> n{};
  n.fill(0x400);
  n[static_cast<int>(NidType::kSearchFolder)] = 0x4000;
  n[static_cast<int>(NidType::kNormalMessage)] = 0x10000;
  n[static_cast<int>(NidType::kAssocMessage)] = 0x8000;
  return n;
}

std::array<std::uint8_t, kHeaderSize> SerializeHeader(const Header& h) {
  std::array<std::uint8_t, kHeaderSize> b{};
  std::uint8_t* p = b.data();
  for (int i = 0; i < 4; ++i) p[i] = kMagic[i];
  base::Put16(p + 8, kMagicClientPst);
  base::Put16(p + 10, h.version);
  base::Put16(p + 12, h.client_version);
  p[14] = 1;  // bPlatformCreate
  p[15] = 1;  // bPlatformAccess
  base::Put64(p + 24, h.bid_unused);
  base::Put64(p + 32, h.bid_next_p);
  base::Put32(p + 40, h.unique);
  for (std::size_t i = 0; i < 32; ++i) base::Put32(p + 44 + 4 * i, h.rgnid[i]);
  base::Put64(p + 184, h.file_eof);
  base::Put64(p + 192, h.amap_last);
  base::Put64(p + 200, h.amap_free);
  base::Put64(p + 208, h.pmap_free);
  base::Put64(p + 216, h.nbt.bid);
  base::Put64(p + 224, h.nbt.ib);
  base::Put64(p + 232, h.bbt.bid);
  base::Put64(p + 240, h.bbt.ib);
  p[248] = h.amap_valid;
  // rgbFM and rgbFP are deprecated; 0xFF means "plenty free, look at the AMaps".
  for (std::size_t i = 256; i < 512; ++i) p[i] = 0xFF;
  p[512] = 0x80;  // bSentinel
  p[513] = h.crypt;
  base::Put64(p + 516, h.bid_next_b);
  base::Put32(p + 4, Crc32({p + 8, kCrcPartialLength}));
  base::Put32(p + 524, Crc32({p + 8, kCrcFullLength}));
  return b;
}

std::string HeaderProblem(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return "the file is shorter than a PST header";
  const std::uint8_t* p = bytes.data();
  for (int i = 0; i < 4; ++i) {
    if (p[i] != kMagic[i]) return "the header magic is not !BDN: not a PST file";
  }
  std::uint16_t version = base::Get16(p + 10);
  if (version == 14 || version == 15) {
    return "ANSI (Outlook 97-2002) PST files are not supported (header wVer " +
           std::to_string(version) + ")";
  }
  if (version < 20) return "unknown PST header version " + std::to_string(version);
  if (version != kVersionUnicode) {
    return "PST header version " + std::to_string(version) +
           " is not supported (only the Unicode format, wVer 23)";
  }
  if (base::Get16(p + 8) != kMagicClientPst) {
    return "the header wMagicClient is " + base::Hex(base::Get16(p + 8)) + ", not a PST (0x4D53)";
  }
  std::uint32_t partial = Crc32({p + 8, kCrcPartialLength});
  if (partial != base::Get32(p + 4)) {
    return "header dwCRCPartial is " + base::Hex(base::Get32(p + 4)) + ", computed " + base::Hex(partial);
  }
  std::uint32_t full = Crc32({p + 8, kCrcFullLength});
  if (full != base::Get32(p + 524)) {
    return "header dwCRCFull is " + base::Hex(base::Get32(p + 524)) + ", computed " + base::Hex(full);
  }
  if (p[513] > 2) return "unknown header bCryptMethod " + std::to_string(p[513]);
  return {};
}

Header ParseHeader(std::span<const std::uint8_t> bytes) {
  if (std::string problem = HeaderProblem(bytes); !problem.empty()) throw FormatError(problem);
  const std::uint8_t* p = bytes.data();
  Header h;
  h.version = base::Get16(p + 10);
  h.client_version = base::Get16(p + 12);
  h.bid_unused = base::Get64(p + 24);
  h.bid_next_p = base::Get64(p + 32);
  h.unique = base::Get32(p + 40);
  for (std::size_t i = 0; i < 32; ++i) h.rgnid[i] = base::Get32(p + 44 + 4 * i);
  h.file_eof = base::Get64(p + 184);
  h.amap_last = base::Get64(p + 192);
  h.amap_free = base::Get64(p + 200);
  h.pmap_free = base::Get64(p + 208);
  h.nbt = {base::Get64(p + 216), base::Get64(p + 224)};
  h.bbt = {base::Get64(p + 232), base::Get64(p + 240)};
  h.amap_valid = p[248];
  h.crypt = p[513];
  h.bid_next_b = base::Get64(p + 516);
  return h;
}

}  // namespace mailvane::pst::ndb
