// The list of a batch: one mailbox a line, a folder or an archive, optionally a tab and the
// name of its .pst. Empty lines and lines starting with "#" are passed over.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace mailvane::cli {

struct BatchEntry {
  int line = 0;      // in the list, from 1
  int position = 0;  // among the mailbox lines, from 1: what --shard counts
  std::string source;  // absolute
  std::string name;    // the .pst's file name in the target folder
  std::string error;   // non-empty: this line converts nothing, and why
};

// Reads every mailbox line. Relative sources are taken from the current folder. A line
// whose source cannot be read, or whose name is not a file name or already given to an
// earlier line, carries its error; the others are unaffected.
std::vector<BatchEntry> ReadBatchList(std::istream& list);

// --shard K/N: the mailboxes whose position is K modulo N (K from 1 to N; 0 is taken as N,
// so a 0-based index such as a Kubernetes Indexed Job's works as well).
struct Shard {
  int k = 1;
  int n = 1;
  bool Takes(int position) const { return position % n == k % n; }
};
// "" when text is such a shard, else why not.
std::string ParseShard(const std::string& text, Shard& shard);

}  // namespace mailvane::cli
