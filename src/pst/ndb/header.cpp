#include "pst/ndb/header.h"

#include <cstdio>

#include "pst/ndb/crc32.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ndb {

namespace {

constexpr std::uint8_t kMagic[4] = {'!', 'B', 'D', 'N'};
constexpr std::uint16_t kMagicClientPst = 0x4D53;
constexpr std::size_t kCrcPartialLength = 471;
constexpr std::size_t kCrcFullLength = 516;

std::string Hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

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
  Put16(p + 8, kMagicClientPst);
  Put16(p + 10, h.version);
  Put16(p + 12, h.client_version);
  p[14] = 1;  // bPlatformCreate
  p[15] = 1;  // bPlatformAccess
  Put64(p + 24, h.bid_unused);
  Put64(p + 32, h.bid_next_p);
  Put32(p + 40, h.unique);
  for (std::size_t i = 0; i < 32; ++i) Put32(p + 44 + 4 * i, h.rgnid[i]);
  Put64(p + 184, h.file_eof);
  Put64(p + 192, h.amap_last);
  Put64(p + 200, h.amap_free);
  Put64(p + 208, h.pmap_free);
  Put64(p + 216, h.nbt.bid);
  Put64(p + 224, h.nbt.ib);
  Put64(p + 232, h.bbt.bid);
  Put64(p + 240, h.bbt.ib);
  p[248] = h.amap_valid;
  // rgbFM and rgbFP are deprecated; 0xFF means "plenty free, look at the AMaps".
  for (std::size_t i = 256; i < 512; ++i) p[i] = 0xFF;
  p[512] = 0x80;  // bSentinel
  p[513] = h.crypt;
  Put64(p + 516, h.bid_next_b);
  Put32(p + 4, Crc32({p + 8, kCrcPartialLength}));
  Put32(p + 524, Crc32({p + 8, kCrcFullLength}));
  return b;
}

std::string HeaderProblem(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return "the file is shorter than a PST header";
  const std::uint8_t* p = bytes.data();
  for (int i = 0; i < 4; ++i) {
    if (p[i] != kMagic[i]) return "the header magic is not !BDN: not a PST file";
  }
  std::uint16_t version = Get16(p + 10);
  if (version == 14 || version == 15) {
    return "ANSI (Outlook 97-2002) PST files are not supported (header wVer " +
           std::to_string(version) + ")";
  }
  if (version < 20) return "unknown PST header version " + std::to_string(version);
  if (version != kVersionUnicode) {
    return "PST header version " + std::to_string(version) +
           " is not supported (only the Unicode format, wVer 23)";
  }
  if (Get16(p + 8) != kMagicClientPst) {
    return "the header wMagicClient is " + Hex(Get16(p + 8)) + ", not a PST (0x4D53)";
  }
  std::uint32_t partial = Crc32({p + 8, kCrcPartialLength});
  if (partial != Get32(p + 4)) {
    return "header dwCRCPartial is " + Hex(Get32(p + 4)) + ", computed " + Hex(partial);
  }
  std::uint32_t full = Crc32({p + 8, kCrcFullLength});
  if (full != Get32(p + 524)) {
    return "header dwCRCFull is " + Hex(Get32(p + 524)) + ", computed " + Hex(full);
  }
  if (p[513] > 2) return "unknown header bCryptMethod " + std::to_string(p[513]);
  return {};
}

Header ParseHeader(std::span<const std::uint8_t> bytes) {
  if (std::string problem = HeaderProblem(bytes); !problem.empty()) throw FormatError(problem);
  const std::uint8_t* p = bytes.data();
  Header h;
  h.version = Get16(p + 10);
  h.client_version = Get16(p + 12);
  h.bid_unused = Get64(p + 24);
  h.bid_next_p = Get64(p + 32);
  h.unique = Get32(p + 40);
  for (std::size_t i = 0; i < 32; ++i) h.rgnid[i] = Get32(p + 44 + 4 * i);
  h.file_eof = Get64(p + 184);
  h.amap_last = Get64(p + 192);
  h.amap_free = Get64(p + 200);
  h.pmap_free = Get64(p + 208);
  h.nbt = {Get64(p + 216), Get64(p + 224)};
  h.bbt = {Get64(p + 232), Get64(p + 240)};
  h.amap_valid = p[248];
  h.crypt = p[513];
  h.bid_next_b = Get64(p + 516);
  return h;
}

}  // namespace mailvane::pst::ndb
