#include "store/object_model_properties.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "pst/property_tags.h"
#include "store/item_derivation.h"
#include "store/local_time.h"

namespace mailvane::store {
namespace {

using pst::PropType;

TEST(ObjectModelProperties, UnknownOrMisplacedNamesRaiseWithTheName) {
  try {
    TextPropertyWrites(ItemType::kContact, "Nickname2", "x");
    FAIL() << "an unknown name must raise";
  } catch (const StoreError& e) {
    EXPECT_NE(std::string(e.what()).find("Nickname2"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("IPM.Contact"), std::string::npos);
  }
  // A contact's text name is not an appointment's, and a date name is not a text name.
  EXPECT_THROW(TextPropertyWrites(ItemType::kAppointment, "FirstName", "x"), StoreError);
  EXPECT_THROW(TextPropertyWrites(ItemType::kAppointment, "Start", "x"), StoreError);
  EXPECT_THROW(TimePropertyWrites(ItemType::kTask, "Start", 0, 0), StoreError);
}

TEST(ObjectModelProperties, EmailAddressCarriesTypeDisplayNameAndOneOffEntryId) {
  const auto w = TextPropertyWrites(ItemType::kContact, "Email2Address", "ann@example.org");
  ASSERT_EQ(w.size(), 5u);
  for (const auto& pw : w) {
    ASSERT_TRUE(pw.key.named.has_value());
    EXPECT_EQ(pw.key.named->set, pst::PsetidAddress());
  }
  EXPECT_EQ(w[0].key.named->lid, 0x8093u);
  EXPECT_EQ(w[1].value.AsString(), "SMTP");
  const auto& id = w[4].value.bytes();
  // flags(4) + one-off UID(16) + version(2) + flags(2), then three UTF-16 strings.
  ASSERT_GE(id.size(), 24u);
  EXPECT_EQ(id[4], 0x81);
  EXPECT_NE(id[23] & 0x80, 0);  // Unicode strings follow
  const std::size_t name_len = 2 * (15 + 1), type_len = 2 * (4 + 1);
  EXPECT_EQ(id.size(), 24 + name_len + type_len + name_len);

  // An empty address writes only the (empty) address, no half-made entry.
  EXPECT_EQ(TextPropertyWrites(ItemType::kContact, "Email1Address", "").size(), 1u);
}

TEST(ObjectModelProperties, CategoriesBecomeTheKeywordsList) {
  const auto w = TextPropertyWrites(ItemType::kTask, "Categories", " Work;Home , Work,, ");
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].key.named->name, u"Keywords");
  EXPECT_EQ(w[0].value.type(), PropType::kMvString);
  EXPECT_EQ(w[0].value.AsMvString(), (std::vector<std::string>{"Work", "Home"}));
  EXPECT_TRUE(TextPropertyWrites(ItemType::kNote, "Categories", "  ")[0].value.AsMvString().empty());
}

TEST(ObjectModelProperties, AppointmentTimesAreMomentsTaskDatesAndLocalBirthdaysWallClock) {
  const auto start = TimePropertyWrites(ItemType::kAppointment, "Start", 42, 99);
  ASSERT_EQ(start.size(), 4u);
  for (const auto& pw : start) EXPECT_EQ(pw.value.AsTime(), 42u);
  EXPECT_EQ(start[3].key.tag, pst::MakeTag(0x0060, PropType::kTime));
  const auto due = TimePropertyWrites(ItemType::kTask, "DueDate", 7, 9);
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0].key.named->set, pst::PsetidTask());
  EXPECT_EQ(due[0].key.named->lid, 0x8105u);
  EXPECT_EQ(due[0].value.AsTime(), 9u);  // the task's own date: midnight on the wall clock
  EXPECT_EQ(due[1].key.named->lid, 0x8517u);
  EXPECT_EQ(due[1].value.AsTime(), 7u);  // the common end: that moment in UTC
  const auto birthday = TimePropertyWrites(ItemType::kContact, "Birthday", 7, 9);
  ASSERT_EQ(birthday.size(), 2u);
  EXPECT_EQ(birthday[0].key.tag, pst::MakeTag(0x3A42, PropType::kTime));
  EXPECT_EQ(birthday[0].value.AsTime(), 7u);
  EXPECT_EQ(birthday[1].key.named->lid, 0x80DEu);  // PidLidBirthdayLocal
  EXPECT_EQ(birthday[1].value.AsTime(), 9u);
}

// East of UTC a local midnight is the evening before in UTC; the wall clock keeps the day.
TEST(ObjectModelProperties, WallClockDatesKeepTheirDayEastOfUtc) {
  const char* old_tz = std::getenv("TZ");
  const std::optional<std::string> saved = old_tz ? std::optional<std::string>(old_tz) : std::nullopt;
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  const LocalDateTime day{2023, 11, 20};
  const pst::FileTime midnight = pst::FileTimeFromUnix(1700438400);  // 2023-11-20 00:00 UTC
  EXPECT_EQ(WallClockFileTime(day), midnight);
  EXPECT_EQ(FileTimeFromLocal(day), midnight - 3600 * 10000000ULL);
  EXPECT_EQ(WallClockOfUtc(FileTimeFromLocal(day)), midnight);
  EXPECT_THROW(WallClockFileTime({2023, 2, 30}), StoreError);
  if (saved) {
    ::setenv("TZ", saved->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

// Readers and Outlook's address card show a contact's address as its full text.
TEST(ItemDerivation, ContactAddressTextIsComposedFromItsPartsUnlessGiven) {
  auto text = [](const pst::MessageContent& c, std::uint32_t lid) {
    pst::NamedProperty n;
    n.set = pst::PsetidAddress();
    n.lid = lid;
    n.type = PropType::kString;
    const pst::PropValue* v = c.props.FindNamed(n);
    return v ? v->AsString() : std::string("(none)");
  };
  pst::MessageContent c;
  auto set = [&c](std::uint16_t id, const char* value) {
    c.props.Set(pst::MakeTag(id, PropType::kString), pst::PropValue::String(value));
  };
  set(0x3A5D, "Lindenstraße 7");
  set(0x3A59, "Köln");
  set(0x3A5B, "50667");
  set(0x3A5A, "Germany");
  set(0x3A29, "");
  DeriveOnSave(ItemType::kContact, c);
  EXPECT_EQ(text(c, 0x801A), "Lindenstraße 7\r\nKöln, 50667\r\nGermany");
  EXPECT_EQ(text(c, 0x801B), "(none)");  // no business parts: no business address

  pst::MessageContent given;
  for (const auto& w : TextPropertyWrites(ItemType::kContact, "HomeAddress", "PO Box 1")) {
    given.props.SetNamed(*w.key.named, w.value);
  }
  given.props.Set(pst::MakeTag(0x3A59, PropType::kString), pst::PropValue::String("Köln"));
  DeriveOnSave(ItemType::kContact, given);
  EXPECT_EQ(text(given, 0x801A), "PO Box 1");
}

}  // namespace
}  // namespace mailvane::store
