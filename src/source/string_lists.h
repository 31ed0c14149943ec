// Ordering and thinning lists of strings. Order and equality are binary (byte by byte,
// case-sensitive): "B" sorts before "a"; "Inbox" and "inbox" differ.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace mailvane::source {

// Sorts entries first..last (inclusive) of list ascending; entries outside stay as they
// are. An empty range (last < first) does nothing; a range reaching outside the list
// throws std::out_of_range.
void SortStrings(std::vector<std::string>& list, std::ptrdiff_t first, std::ptrdiff_t last,
                 const std::function<void()>& yield = {});

// Keeps the first string of every run of equal neighbours, drops every empty string and
// shrinks the list to what is kept, in order. On an unsorted list only neighbouring
// repeats go; a list without a non-empty string ends empty. Yields once per entry.
void RemoveDuplicates(std::vector<std::string>& list, const std::function<void()>& yield = {});

}  // namespace mailvane::source
