#include "source/string_lists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace mailvane::source {
namespace {

using List = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SortStrings, BinaryOrderWithinTheRangeOnly) {
  List list{"inbox", "Sent", "Inbox", "Calendar"};
  SortStrings(list, 0, 3);
  EXPECT_THAT(list, ElementsAre("Calendar", "Inbox", "Sent", "inbox"));

  // Bytes compare unsigned: a non-ASCII name sorts after every ASCII one.
  List accents{"\xC3\xA9t\xC3\xA9", "zoo", "", "Zoo", "z"};
  SortStrings(accents, 0, 4);
  EXPECT_THAT(accents, ElementsAre("", "Zoo", "z", "zoo", "\xC3\xA9t\xC3\xA9"));

  List partial{"d", "c", "b", "a"};
  SortStrings(partial, 1, 2);
  EXPECT_THAT(partial, ElementsAre("d", "b", "c", "a"));
  SortStrings(partial, 3, 3);
  EXPECT_THAT(partial, ElementsAre("d", "b", "c", "a"));
}

TEST(SortStrings, EmptyAndOutsideRanges) {
  List empty;
  EXPECT_NO_THROW(SortStrings(empty, 0, -1));
  EXPECT_THAT(empty, IsEmpty());
  List two{"b", "a"};
  EXPECT_NO_THROW(SortStrings(two, 1, 0));
  EXPECT_THAT(two, ElementsAre("b", "a"));
  EXPECT_THROW(SortStrings(two, 0, 2), std::out_of_range);
  EXPECT_THROW(SortStrings(two, -1, 1), std::out_of_range);
}

TEST(RemoveDuplicates, KeepsFirstOfEachRunAndDropsEmpties) {
  const std::pair<List, List> cases[] = {
      {{"a", "a", "a", "b", "", ""}, {"a", "b"}},
      {{"A", "a"}, {"A", "a"}},
      {{"a", "b", "a"}, {"a", "b", "a"}},  // only runs: the list is not sorted here
      // An empty entry between equal strings breaks their run.
      {{"", "x", "", "x", "x", "y", "y", "", "z"}, {"x", "x", "y", "z"}},
      {{}, {}},
      {{"", "", ""}, {}},
  };
  for (auto [list, want] : cases) {
    RemoveDuplicates(list);
    EXPECT_EQ(list, want);
  }
}

TEST(RemoveDuplicates, SortedFolderListLosesEveryRepeat) {
  std::mt19937 random(3);
  List list;
  for (int k = 0; k < 5000; ++k) list.push_back("Export\\F" + std::to_string(random() % 97));
  SortStrings(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1);
  RemoveDuplicates(list);
  EXPECT_EQ(list.size(), 97u);
  EXPECT_TRUE(std::adjacent_find(list.begin(), list.end(), std::greater_equal<>()) == list.end());
}

}  // namespace
}  // namespace mailvane::source
