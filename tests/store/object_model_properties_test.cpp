#include "store/object_model_properties.h"

#include <gtest/gtest.h>

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
  EXPECT_THROW(TimePropertyWrites(ItemType::kTask, "Start", 0), StoreError);
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

TEST(ObjectModelProperties, AppointmentStartAndTaskDatesWriteTheirWholeSet) {
  const auto start = TimePropertyWrites(ItemType::kAppointment, "Start", 42);
  ASSERT_EQ(start.size(), 4u);
  for (const auto& pw : start) EXPECT_EQ(pw.value.AsTime(), 42u);
  EXPECT_EQ(start[3].key.tag, pst::MakeTag(0x0060, PropType::kTime));
  const auto due = TimePropertyWrites(ItemType::kTask, "DueDate", 7);
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0].key.named->set, pst::PsetidTask());
  EXPECT_EQ(due[0].key.named->lid, 0x8105u);
}

}  // namespace
}  // namespace mailvane::store
