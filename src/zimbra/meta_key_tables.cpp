#include "zimbra/meta_key_tables.h"

#include <array>

namespace mailvane::zimbra {
namespace {

using T = MetaKeyTest;
using F = MetaValueForm;

constexpr std::array kContactKeys = {
    MetaKey{"company", T::PrefixTest, F::CountedValue, kContactCompany},
    MetaKey{"email", T::PrefixTest, F::CountedValue, kContactEmail},
    MetaKey{"firstName", T::PrefixTest, F::CountedValue, kContactFirstName},
    MetaKey{"homeCountry", T::PrefixTest, F::CountedValue, kContactHomeCountry},
    MetaKey{"homeCity", T::PrefixTest, F::CountedValue, kContactHomeCity},
    MetaKey{"homePostalCode", T::PrefixTest, F::CountedValue, kContactHomePostalCode},
    MetaKey{"homeState", T::PrefixTest, F::CountedValue, kContactHomeState},
    MetaKey{"homeStreet", T::PrefixTest, F::CountedValue, kContactHomeStreet},
    MetaKey{"homeURL", T::PrefixTest, F::CountedValue, kContactHomeURL},
    MetaKey{"jobTitle", T::PrefixTest, F::CountedValue, kContactJobTitle},
    MetaKey{"lastName", T::PrefixTest, F::CountedValue, kContactLastName},
    MetaKey{"mobilePhone", T::PrefixTest, F::CountedValue, kContactMobilePhone},
    MetaKey{"notes", T::PrefixTest, F::CountedValue, kContactNotes},
};

constexpr std::array kCalendarKeys = {
    MetaKey{"desc", T::PrefixExceptTest, F::CountedValue, kCalendarDescription, "descH"},
    MetaKey{"n", T::PrefixTest, F::CountedValue, kCalendarSubject},
    MetaKey{"st", T::PrefixTest, F::FixedTwoOnValue, kCalendarStart},
    MetaKey{"et", T::PrefixTest, F::FixedTwoOnValue, kCalendarEnd},
    MetaKey{"l", T::PrefixTest, F::CountedValue, kCalendarLocation},
};

constexpr std::array kTaskKeys = {
    MetaKey{"desc", T::PrefixExceptTest, F::CountedValue, kTaskDescription, "descH"},
    MetaKey{"n", T::PrefixTest, F::CountedValue, kTaskSubject},
    MetaKey{"st", T::PrefixTest, F::FixedTwoOnValue, kTaskStart},
    MetaKey{"et", T::PrefixTest, F::FixedTwoOnValue, kTaskDue},
};

constexpr std::array kNoteKeys = {
    MetaKey{"f", T::PrefixTest, F::CountedValue, kNoteText},
    MetaKey{"\"name\"", T::ContainsTextTest, F::QuotedFirstItemValue, kNoteSubject},
};

}  // namespace

std::span<const MetaKey> ContactMetaKeys() { return kContactKeys; }
std::span<const MetaKey> CalendarMetaKeys() { return kCalendarKeys; }
std::span<const MetaKey> TaskMetaKeys() { return kTaskKeys; }
std::span<const MetaKey> NoteMetaKeys() { return kNoteKeys; }

}  // namespace mailvane::zimbra
