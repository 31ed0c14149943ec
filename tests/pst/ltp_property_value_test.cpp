#include "pst/ltp/property_value.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/file_time.h"
#include "base/utf.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst {
namespace {

TEST(PropValueTest, ScalarsRoundTripInStoredForm) {
  EXPECT_EQ(ltp::PropValue::Int16(-2).bytes(), (std::vector<std::uint8_t>{0xFE, 0xFF}));
  EXPECT_EQ(ltp::PropValue::Int16(-2).AsInt32(), -2);
  EXPECT_EQ(ltp::PropValue::Int32(0x01020304).bytes(), (std::vector<std::uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(ltp::PropValue::Int32(-7).AsInt64(), -7);
  EXPECT_EQ(ltp::PropValue::Int64(-1234567890123LL).AsInt64(), -1234567890123LL);
  EXPECT_EQ(ltp::PropValue::Double(-2.5).AsDouble(), -2.5);
  EXPECT_TRUE(ltp::PropValue::Boolean(true).AsBool());
  EXPECT_EQ(ltp::PropValue::Boolean(false).AsInt32(), 0);
  EXPECT_EQ(ltp::PropValue::Time(0x01D0000000000000ULL).AsTime(), 0x01D0000000000000ULL);
  // A boolean read from a property context carries four bytes.
  EXPECT_TRUE(ltp::PropValue(ltp::PropType::kBoolean, {0, 0, 1, 0}).AsBool());
}

TEST(PropValueTest, ReadersRefuseOtherTypesAndBadSizes) {
  EXPECT_THROW((void)ltp::PropValue::String("x").AsInt32(), std::logic_error);
  EXPECT_THROW((void)ltp::PropValue::Int32(1).AsString16(), std::logic_error);
  EXPECT_THROW((void)ltp::PropValue::Int32(1).AsTime(), std::logic_error);
  EXPECT_THROW((void)ltp::PropValue(ltp::PropType::kInt32, {1, 2}).AsInt32(), ndb::FormatError);
  EXPECT_THROW((void)ltp::PropValue(ltp::PropType::kString, {0x41}).AsString(), ndb::FormatError);
  EXPECT_THROW((void)ltp::PropValue(ltp::PropType::kMvInt32, {1, 2, 3}).AsMvInt32(), ndb::FormatError);
}

TEST(PropValueTest, TimesConvertBothWays) {
  EXPECT_EQ(base::FileTimeFromUnix(0), 116444736000000000ULL);
  EXPECT_EQ(base::UnixFromFileTime(base::FileTimeFromUnix(1700000000)), 1700000000);
  EXPECT_EQ(base::FileTimeFromUnix(-20000000000LL), 0u);
}

TEST(PropValueTest, Utf8AndUtf16Convert) {
  const std::string text = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // A é 中 😀
  std::u16string wide = base::Utf16FromUtf8(text);
  EXPECT_EQ(wide, std::u16string(u"A\u00E9\u4E2D\U0001F600"));
  EXPECT_EQ(base::Utf8FromUtf16(wide), text);
  EXPECT_EQ(ltp::PropValue::String(text).AsString(), text);
  EXPECT_EQ(ltp::PropValue::String(text).bytes().size(), 2u * wide.size());
}

TEST(PropValueTest, InvalidEncodingsBecomeReplacementCharacters) {
  EXPECT_EQ(base::Utf16FromUtf8("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(base::Utf16FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");          // overlong '/'
  EXPECT_EQ(base::Utf16FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(base::Utf16FromUtf8("\xE4\xB8"), u"\uFFFD\uFFFD");          // truncated
  EXPECT_EQ(ltp::PropValue::String("a\xFF\xE4\xB8").AsString(), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(base::Utf8FromUtf16(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(base::Utf8FromUtf16(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(PropValueTest, MultiValuesUseTheStoredLayout) {
  ltp::PropValue s = ltp::PropValue::MvString({"ab", "", "\xF0\x9F\x98\x80"});
  // count, three offsets, then 4 + 0 + 4 bytes of UTF-16.
  ASSERT_EQ(s.bytes().size(), 16u + 8u);
  EXPECT_EQ(s.bytes()[4], 16);
  EXPECT_EQ(s.bytes()[8], 20);
  EXPECT_EQ(s.bytes()[12], 20);
  EXPECT_EQ(s.AsMvString(), (std::vector<std::string>{"ab", "", "\xF0\x9F\x98\x80"}));
  EXPECT_TRUE(ltp::PropValue::MvString({}).AsMvString().empty());

  std::vector<std::vector<std::uint8_t>> bins{{1, 2, 3}, {}, {9}};
  EXPECT_EQ(ltp::PropValue::MvBinary(bins).AsMvBinary(), bins);
  EXPECT_EQ(ltp::PropValue::MvInt32({1, -1, 7}).AsMvInt32(), (std::vector<std::int32_t>{1, -1, 7}));
  EXPECT_EQ(ltp::PropValue::MvInt32({1, -1}).bytes().size(), 8u);
}

TEST(PropValueTest, DamagedMultiValueOffsetsAreRefused) {
  std::vector<std::uint8_t> bytes = ltp::PropValue::MvBinary({{1, 2}, {3}}).bytes();
  auto bad_count = bytes;
  bad_count[0] = 200;
  EXPECT_THROW((void)ltp::PropValue(ltp::PropType::kMvBinary, bad_count).AsMvBinary(), ndb::FormatError);
  auto backwards = bytes;
  backwards[8] = 5;  // second item would start before the first ends... and inside the offsets
  EXPECT_THROW((void)ltp::PropValue(ltp::PropType::kMvBinary, backwards).AsMvBinary(), ndb::FormatError);
  auto past_end = bytes;
  past_end[4] = 100;
  EXPECT_THROW((void)ltp::PropValue(ltp::PropType::kMvBinary, past_end).AsMvBinary(), ndb::FormatError);
}

}  // namespace
}  // namespace mailvane::pst
