// The node-database checker: reads a PST file on its own (not through NodeDatabase, so a
// damaged file yields findings instead of one exception) and reports what MS-PST makes
// checkable at this layer. The class holds the state of one check; its work is split
// between ndb_check.cpp (header, maps, allocation) and ndb_check_trees.cpp (B-trees, blocks).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pst/check/finding.h"
#include "pst/ndb/file_io.h"
#include "pst/ndb/header.h"

namespace mailvane::pst::check {

std::vector<Finding> CheckNodeDatabase(const std::filesystem::path& path);

class NdbChecker {
 public:
  explicit NdbChecker(const std::filesystem::path& path) : path_(path) {}
  std::vector<Finding> Run();

 private:
  struct Block {
    std::uint64_t ib = 0;
    std::uint16_t cb = 0;
    std::uint16_t cref = 0;
    std::uint32_t refs = 0;
    bool readable = false;
    std::uint8_t btype = 0;  // internal blocks: 1 data tree, 2 subnode tree
    std::uint8_t level = 0;
    std::uint64_t total = 0;  // XBLOCK / XXBLOCK lcbTotal
  };
  struct Node {
    std::uint64_t data = 0;
    std::uint64_t subnodes = 0;
    std::uint32_t parent = 0;
  };

  void Add(Severity severity, const std::string& area, const std::string& message);
  std::vector<std::uint8_t> Read(std::uint64_t ib, std::uint64_t size);
  bool CheckHeader();
  void CheckMapPages();
  void CheckDList();
  // Marks a range as reached from the header; overlaps are errors.
  void Use(std::uint64_t ib, std::uint64_t size, const std::string& what);
  void WalkTree(ndb::PageType type, const ndb::Bref& ref, int level, std::uint64_t low,
                std::uint64_t high, int depth);
  void CheckBlocks();
  void CheckInternalBlock(std::uint64_t bid, Block& block, const std::vector<std::uint8_t>& data);
  void Reference(std::uint64_t bid, const std::string& from);
  void CheckReferences();
  void CheckAllocation();
  bool MapsTrusted() const { return header_.amap_valid != ndb::kAMapInvalid; }
  void CheckCounters();

  std::filesystem::path path_;
  std::unique_ptr<ndb::FileIo> file_;
  std::uint64_t size_ = 0;
  ndb::Header header_;
  std::vector<Finding> findings_;
  std::map<std::string, int> per_area_;
  std::vector<std::uint8_t> amap_bits_;  // as stored, per interval 496 bytes
  std::uint64_t intervals_ = 0;
  std::vector<bool> used_;  // 64-byte slots reached from the header
  std::set<std::uint64_t> visited_pages_;
  std::uint64_t max_page_bid_ = 0;
  std::map<std::uint32_t, Node> nodes_;
  std::map<std::uint64_t, Block> blocks_;
};

}  // namespace mailvane::pst::check
