#include "source/string_lists.h"

#include <algorithm>
#include <stdexcept>

namespace mailvane::source {

void SortStrings(std::vector<std::string>& list, std::ptrdiff_t first, std::ptrdiff_t last,
                 const std::function<void()>& yield) {
  if (last < first) return;
  const auto size = static_cast<std::ptrdiff_t>(list.size());
  if (first < 0 || last >= size) {
    throw std::out_of_range("SortStrings: range " + std::to_string(first) + ".." +
                            std::to_string(last) + " is outside a list of " + std::to_string(size) +
                            " entries");
  }
  if (yield) yield();
  // std::string's operator< compares bytes as unsigned char: the binary order. std::sort
  // gives the same result as any other sort (equal strings are indistinguishable) without
  // a quicksort's worst-case recursion depth.
  std::sort(list.begin() + first, list.begin() + last + 1);
  if (yield) yield();
}

void RemoveDuplicates(std::vector<std::string>& list, const std::function<void()>& yield) {
  std::size_t kept = 0;
  // Whether the previous original entry was empty. A non-empty previous entry that was
  // dropped as a repeat equals the last kept one, so comparing with list[kept - 1]
  // compares with the previous original entry in every other case.
  bool previous_empty = true;
  for (std::size_t k = 0; k < list.size(); ++k) {
    if (yield) yield();
    const bool empty = list[k].empty();
    const bool repeat = !empty && !previous_empty && list[k] == list[kept - 1];
    previous_empty = empty;
    if (empty || repeat) continue;
    if (kept != k) list[kept] = std::move(list[k]);
    ++kept;
  }
  list.resize(kept);
}

}  // namespace mailvane::source
