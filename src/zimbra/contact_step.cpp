#include <array>
#include <memory>

#include "source/failure_log.h"
#include "zimbra/contact_fields.h"
#include "zimbra/contact_group.h"
#include "zimbra/contact_record_fields.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_dates.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/record_steps.h"

namespace mailvane::zimbra {
namespace {

constexpr std::size_t kContactBirthday = kContactValueCount;
constexpr std::size_t kContactAnniversary = kContactValueCount + 1;

// The contact table plus the two dates the contact's "Birthday" and "Anniversary" take.
const std::vector<MetaKey>& ContactKeysWithDates() {
  static const std::vector<MetaKey> keys = [] {
    std::vector<MetaKey> rows(ContactMetaKeys().begin(), ContactMetaKeys().end());
    rows.push_back({"birthday", MetaKeyTest::PrefixTest, MetaValueForm::CountedValue,
                    kContactBirthday});
    rows.push_back({"anniversary", MetaKeyTest::PrefixTest, MetaValueForm::CountedValue,
                    kContactAnniversary});
    return rows;
  }();
  return keys;
}

void RemoveAll(std::string& text, std::string_view what) {
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
    text.erase(at, what.size());
  }
}

}  // namespace

bool ConvertContactRecord(ItemContext& ctx, source::ExportFile& file) {
  ctx.front_end.Doing(source::Activity::kConvertingContact, file.shown());
  bool written = false;
  source::TryStep(ctx.failures, file.shown(), "convert contact", [&] {
    ContactFields f;
    MetaValues v(kContactAnniversary + 1);
    const RecordTree record = ReadRecordTree(ctx, file);
    if (!record.read) return;
    std::unique_ptr<ItemFolderScope> folder;
    ContactExtras extras;
    if (!record.tree) {
      // Not JSON: the key texts of the section after the marker, as far as they go.
      if (!ScanRecord(ctx, file, kContactMarker, ContactKeysWithDates(), v)) return;
    } else {
      const MetaNode* fields = record.tree->metadata.Find("fld");
      const bool old_kind = fields != nullptr && fields->kind == MetaNode::Kind::kDict;
      if (!IsRecordOf(*record.tree, kZimbraContact, old_kind)) return;
      // Records of old servers hold the fields in the metadata itself.
      const MetaNode& source = old_kind ? *fields : record.tree->metadata;
      for (const MetaKey& row : ContactKeysWithDates()) v[row.destination] = source.Text(row.name);
      if (source.Text("type") == "group") {
        // A contact group is a distribution list of its members.
        ItemFolderScope list_folder(ctx, file.path(), store::ItemType::kContact);
        written = CreateDistListItem(ctx, file.shown(), ctx.storeID, GroupName(source),
                                     CategoriesOf(*record.tree), GroupMembers(source));
        return;
      }
      extras = MapContactFields(source, f);
      v[kContactEmail] = f.eContact_Email;  // the first of all the record's addresses
      f.eContact_Categories = CategoriesOf(*record.tree);
      folder = std::make_unique<ItemFolderScope>(ctx, file.path(), store::ItemType::kContact);
    }

    f.eContact_FirstName = v[kContactFirstName];
    f.eContact_LastName = v[kContactLastName];
    f.eContact_Email = v[kContactEmail];
    f.eContact_Company = v[kContactCompany];
    f.eContact_Profession = v[kContactJobTitle];  // Zimbra's job title is the profession
    f.eContact_WebPage = TrimSpaces(v[kContactHomeURL]);
    RemoveAll(f.eContact_WebPage, "http://");
    f.eContact_CellPhone = v[kContactMobilePhone];
    f.eContact_PersonalStreet = v[kContactHomeStreet];
    f.eContact_PersonalCity = v[kContactHomeCity];
    f.eContact_PersonalZip = v[kContactHomePostalCode];
    f.eContact_PersonalState = v[kContactHomeState];
    f.eContact_PersonalCountry = v[kContactHomeCountry];
    f.eContact_Comments = v[kContactNotes];
    f.eContact_FullName = f.eContact_FirstName + " " + f.eContact_LastName;
    ForEachContactField(f, [](std::string& s) { s = TrimSpaces(s); });

    written = CreateContactItem(ctx, file.shown(), ctx.storeID, 10, f,
                                BirthdayText(TrimSpaces(v[kContactBirthday])),
                                BirthdayText(TrimSpaces(v[kContactAnniversary])),
                                [&](GuardedItem& item) {
                                  for (const auto& [name, value] : extras.texts) {
                                    item.SetText(name, TrimSpaces(value));
                                  }
                                });
    if (!extras.unplaced.empty() && ctx.notice) {
      std::string note = "contact fields with no place in Outlook:";
      for (const std::string& field : extras.unplaced) note += " [" + field + "]";
      ctx.notice(file.shown(), note);
    }
  });
  return written;
}

}  // namespace mailvane::zimbra
