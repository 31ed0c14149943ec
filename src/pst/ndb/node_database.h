// The node database of a Unicode PST file (MS-PST 2.2 and 2.6): header, allocation maps,
// blocks, data trees, subnode trees and the two B-trees.
//
// Ownership of references: a block written through this class starts with one reference,
// which the caller hands on (to a node, a subnode entry or a data tree) or gives back with
// Release(). PutNode/DeleteNode release the data and subnode trees a node no longer uses.
// Space freed since the last commit is not reused before the next commit, so the file on
// disk always matches its last committed header (copy-on-write).
//
// Destroying a NodeDatabase without Close() keeps exactly what was last committed (as a
// crash would); nothing is written from a destructor. A writable Open rebuilds the
// allocation maps from what the header reaches, so space an interrupted commit left
// marked is reclaimed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pst/ndb/file_io.h"
#include "pst/ndb/ids.h"

namespace mailvane::pst::ndb {

enum class CryptMethod : std::uint8_t { kNone = 0, kPermute = 1, kCyclic = 2 };

struct NodeEntry {
  Nid nid = 0;
  Bid data = 0;      // 0: the node has no data
  Bid subnodes = 0;  // 0: the node has no subnodes
  Nid parent = 0;
};

struct SubnodeEntry {
  Nid nid = 0;
  Bid data = 0;
  Bid subnodes = 0;
};

class NodeDatabase {
 public:
  // A new, empty, valid file (header, maps, empty B-trees), committed before it returns.
  static std::unique_ptr<NodeDatabase> Create(const std::filesystem::path& path,
                                              CryptMethod crypt = CryptMethod::kPermute);
  static std::unique_ptr<NodeDatabase> Create(std::unique_ptr<FileIo> file,
                                              CryptMethod crypt = CryptMethod::kPermute);
  // Opens an existing Unicode file; an ANSI or damaged file raises FormatError.
  static std::unique_ptr<NodeDatabase> Open(const std::filesystem::path& path, bool writable);
  static std::unique_ptr<NodeDatabase> Open(std::unique_ptr<FileIo> file, bool writable);

  virtual ~NodeDatabase() = default;

  // --- blocks and trees (write) ---
  // One external data block of at most kMaxBlockData bytes, encoded with the file's method.
  virtual Bid WriteBlock(std::span<const std::uint8_t> data) = 0;
  // A stream of any size: one block, or blocks under an XBLOCK / XXBLOCK. Empty data gives 0.
  virtual Bid WriteData(std::span<const std::uint8_t> data) = 0;
  // A data tree over blocks already written (in order), for streams written piece by piece.
  // A single leaf is returned as it is.
  virtual Bid WriteDataTree(std::span<const Bid> leaves, std::uint64_t total_size) = 0;
  // A subnode tree (SLBLOCK, or SIBLOCK over SLBLOCKs); entries in any order. Empty gives 0.
  virtual Bid WriteSubnodeTree(std::vector<SubnodeEntry> entries) = 0;
  virtual void AddRef(Bid bid) = 0;
  // Drops one reference; at zero the block is freed, and an internal block's children too.
  virtual void Release(Bid bid) = 0;

  // --- blocks and trees (read) ---
  virtual std::vector<std::uint8_t> ReadBlock(Bid bid) = 0;  // one block, decoded
  virtual std::vector<Bid> DataLeaves(Bid bid) = 0;          // the data blocks of a stream
  virtual std::vector<std::uint8_t> ReadData(Bid bid) = 0;   // a whole stream
  virtual std::uint64_t DataSize(Bid bid) = 0;
  virtual std::vector<SubnodeEntry> ReadSubnodes(Bid bid) = 0;  // sorted by NID

  // --- nodes ---
  virtual std::optional<NodeEntry> FindNode(Nid nid) = 0;
  // Inserts or replaces; the old data and subnode trees of a replaced node are released
  // unless the new entry uses them too. Takes over the caller's references to entry's BIDs
  // (a BID the replaced entry already had keeps the node's one reference: re-putting a
  // node with the same data, e.g. to change its parent, needs no AddRef). A NID the caller
  // chose raises the NID counter of its type, so AllocateNid never hands it out.
  virtual void PutNode(const NodeEntry& entry) = 0;
  virtual void DeleteNode(Nid nid) = 0;
  // A NID of that type never used in this file before.
  virtual Nid AllocateNid(NidType type) = 0;
  virtual void ForEachNode(const std::function<void(const NodeEntry&)>& visit) = 0;

  // --- durability ---
  // Writes the B-trees, the maps and then the header, and flushes: everything done so far
  // survives a crash from here on.
  virtual void Commit() = 0;
  virtual void Close() = 0;  // commits; further calls raise
  // The size of the file once `more` bytes more are allocated in it; 0 where unknown.
  virtual std::uint64_t SizeWith(std::uint64_t /*more*/) const { return 0; }
  // Why the file refused a write or flush (disk full, I/O error, file removed), or "" while
  // it takes them: after a refusal it holds its last commit only and takes nothing more.
  virtual std::string WriteFailure() const = 0;
};

}  // namespace mailvane::pst::ndb
