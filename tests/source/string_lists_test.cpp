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
  List runs{"a", "a", "a", "b", "", ""};
  RemoveDuplicates(runs);
  EXPECT_THAT(runs, ElementsAre("a", "b"));

  List cased{"A", "a"};
  RemoveDuplicates(cased);
  EXPECT_THAT(cased, ElementsAre("A", "a"));

  List unsorted{"a", "b", "a"};
  RemoveDuplicates(unsorted);
  EXPECT_THAT(unsorted, ElementsAre("a", "b", "a"));

  // An empty entry between equal strings breaks their run.
  List broken{"", "x", "", "x", "x", "y", "y", "", "z"};
  RemoveDuplicates(broken);
  EXPECT_THAT(broken, ElementsAre("x", "x", "y", "z"));

  List long_run{"k", "k", "k", "k", "k", "k", "k", "m", "m", "k"};
  RemoveDuplicates(long_run);
  EXPECT_THAT(long_run, ElementsAre("k", "m", "k"));
}

TEST(RemoveDuplicates, ListsWithNothingToKeepEndEmpty) {
  List none;
  RemoveDuplicates(none);
  EXPECT_THAT(none, IsEmpty());
  List blanks{"", "", ""};
  RemoveDuplicates(blanks);
  EXPECT_THAT(blanks, IsEmpty());
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
