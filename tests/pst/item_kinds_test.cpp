// One item of each kind the converter writes (e-mail, contact, appointment, task, sticky
// note), each with the full property set the store layer gives it, read back by our own
// reader, checked by our checker, and compared property by property with what pypff sees
// and with what readpst exports (e-mail, vCard, iCalendar).
#include <gtest/gtest.h>

#include "base/file_time.h"
#include "base/utf.h"
#include "pst/message_reader_support.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::ScratchDir;

constexpr base::FileTime kStart = 133500000000000000ull;     // 2024-01-20 11:20 UTC
constexpr base::FileTime kHour = 36000000000ull;

messaging::NamedProperty Lid(const ltp::Guid& set, std::uint32_t lid) { return messaging::NamedProperty{set, lid, u"", ltp::PropType::kString}; }

void Common(messaging::PropertyBag& p, const char* cls, const std::string& subject, const std::string& body) {
  p.Set(messaging::kPrMessageClass, ltp::PropValue::String(cls));
  p.Set(messaging::kPrSubject, ltp::PropValue::String(subject));
  p.Set(messaging::kPrNormalizedSubject, ltp::PropValue::String(subject));
  p.Set(messaging::kPrBody, ltp::PropValue::String(body));
  p.Set(messaging::kPrImportance, ltp::PropValue::Int32(1));
  p.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagRead));
  p.SetNamed(messaging::NamedProperty{messaging::PsPublicStrings(), 0, u"Keywords", ltp::PropType::kMvString},
             ltp::PropValue::MvString({"Work", "Κατηγορία"}));
}

std::vector<std::uint8_t> OneOff(const std::string& name, const std::string& address) {
  std::vector<std::uint8_t> id = {0, 0, 0, 0, 0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                  0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0, 0, 0x01, 0x80};
  for (const std::string& s : {name, std::string("SMTP"), address}) {
    for (char16_t c : base::Utf16FromUtf8(s)) {
      id.push_back(static_cast<std::uint8_t>(c));
      id.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    id.push_back(0);
    id.push_back(0);
  }
  return id;
}

messaging::MessageContent Contact() {
  messaging::MessageContent m;
  messaging::PropertyBag& p = m.props;
  Common(p, "IPM.Contact", "Zoë Ångström", "Met at the conference.\r\nСпасибо!");
  const std::pair<std::uint16_t, const char*> texts[] = {
      {0x3001, "Zoë Ångström"}, {0x3A06, "Zoë"}, {0x3A11, "Ångström"}, {0x3A44, "Q"},
      {0x3A45, "Dr."}, {0x3A05, "Jr."}, {0x3A16, "Nordlys AS"}, {0x3A17, "Chief Engineer"},
      {0x3A46, "Engineer"}, {0x3A18, "R&D"}, {0x3A19, "B-12"}, {0x3A08, "+47 22 00 00 01"},
      {0x3A09, "+47 22 00 00 02"}, {0x3A1C, "+47 900 00 003"}, {0x3A24, "+47 22 00 00 04"},
      {0x3A51, "https://nordlys.example"}, {0x3A29, "Storgata 1"}, {0x3A27, "Oslo"},
      {0x3A28, "Oslo"}, {0x3A2A, "0155"}, {0x3A26, "Norway"}, {0x3A5D, "Hjemveien 2"},
      {0x3A59, "Bergen"}, {0x3A5B, "5003"}, {0x3A5A, "Norway"}};
  for (const auto& [id, text] : texts) p.Set(ltp::MakeTag(id, ltp::PropType::kString), ltp::PropValue::String(text));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x8005), ltp::PropValue::String("Ångström, Zoë"));  // FileUnder
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAddress(), 0x8006, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(0x8017));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x802B), ltp::PropValue::String("https://zoe.example"));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x801B), ltp::PropValue::String("Storgata 1\r\n0155 Oslo\r\nNorway"));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x8045), ltp::PropValue::String("Storgata 1"));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x8046), ltp::PropValue::String("Oslo"));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x8048), ltp::PropValue::String("0155"));
  p.SetNamed(Lid(messaging::PsetidAddress(), 0x8049), ltp::PropValue::String("Norway"));
  const std::uint32_t base[3] = {0x8080, 0x8090, 0x80A0};
  const char* addresses[3] = {"zoe@nordlys.example", "zoe.a@home.example", "z@third.example"};
  std::vector<std::int32_t> list;
  for (int n = 0; n < 3; ++n) {
    p.SetNamed(Lid(messaging::PsetidAddress(), base[n]), ltp::PropValue::String(addresses[n]));
    p.SetNamed(Lid(messaging::PsetidAddress(), base[n] + 2), ltp::PropValue::String("SMTP"));
    p.SetNamed(Lid(messaging::PsetidAddress(), base[n] + 3), ltp::PropValue::String(addresses[n]));
    p.SetNamed(Lid(messaging::PsetidAddress(), base[n] + 4), ltp::PropValue::String(addresses[n]));
    p.SetNamed(messaging::NamedProperty{messaging::PsetidAddress(), base[n] + 5, u"", ltp::PropType::kBinary},
               ltp::PropValue::Binary(OneOff(addresses[n], addresses[n])));
    list.push_back(n);
  }
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAddress(), 0x8028, u"", ltp::PropType::kMvInt32}, ltp::PropValue::MvInt32(list));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAddress(), 0x8029, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(7));
  p.Set(ltp::MakeTag(0x3A42, ltp::PropType::kTime), ltp::PropValue::Time(kStart));  // birthday
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAddress(), 0x8015, u"", ltp::PropType::kBoolean}, ltp::PropValue::Boolean(true));
  messaging::AttachmentContent picture = testing::FileAttachment("ContactPicture.jpg", testing::Pattern(3000), "image/jpeg");
  picture.props.Set(ltp::MakeTag(0x7FFF, ltp::PropType::kBoolean), ltp::PropValue::Boolean(true));  // contact photo
  picture.props.Set(messaging::kPrAttachmentHidden, ltp::PropValue::Boolean(true));
  m.attachments.push_back(std::move(picture));
  return m;
}

messaging::MessageContent Appointment() {
  messaging::MessageContent m;
  messaging::PropertyBag& p = m.props;
  Common(p, "IPM.Appointment", "Planning — 計画", "Agenda:\r\n1. Budget");
  auto time = [&](const ltp::Guid& set, std::uint32_t lid, base::FileTime t) {
    p.SetNamed(messaging::NamedProperty{set, lid, u"", ltp::PropType::kTime}, ltp::PropValue::Time(t));
  };
  time(messaging::PsetidAppointment(), 0x820D, kStart);
  time(messaging::PsetidAppointment(), 0x820E, kStart + 2 * kHour);
  time(messaging::PsetidCommon(), 0x8516, kStart);
  time(messaging::PsetidCommon(), 0x8517, kStart + 2 * kHour);
  time(messaging::PsetidAppointment(), 0x8235, kStart);
  time(messaging::PsetidAppointment(), 0x8236, kStart + 2 * kHour);
  p.Set(ltp::MakeTag(0x0060, ltp::PropType::kTime), ltp::PropValue::Time(kStart));
  p.Set(ltp::MakeTag(0x0061, ltp::PropType::kTime), ltp::PropValue::Time(kStart + 2 * kHour));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAppointment(), 0x8213, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(120));
  p.SetNamed(Lid(messaging::PsetidAppointment(), 0x8208), ltp::PropValue::String("Room 4 / Sala 4"));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAppointment(), 0x8205, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(2));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAppointment(), 0x8215, u"", ltp::PropType::kBoolean}, ltp::PropValue::Boolean(false));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAppointment(), 0x8223, u"", ltp::PropType::kBoolean}, ltp::PropValue::Boolean(false));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAppointment(), 0x8217, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(0));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidCommon(), 0x8503, u"", ltp::PropType::kBoolean}, ltp::PropValue::Boolean(true));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidCommon(), 0x8501, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(15));
  m.attachments.push_back(testing::FileAttachment("agenda.txt", {'1', '.', ' ', 'B'}, "text/plain"));
  return m;
}

messaging::MessageContent Task() {
  messaging::MessageContent m;
  messaging::PropertyBag& p = m.props;
  Common(p, "IPM.Task", "Write the report", "Chapters 1 to 3");
  p.SetNamed(messaging::NamedProperty{messaging::PsetidTask(), 0x8104, u"", ltp::PropType::kTime}, ltp::PropValue::Time(kStart));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidTask(), 0x8105, u"", ltp::PropType::kTime}, ltp::PropValue::Time(kStart + 48 * kHour));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidCommon(), 0x8516, u"", ltp::PropType::kTime}, ltp::PropValue::Time(kStart));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidCommon(), 0x8517, u"", ltp::PropType::kTime}, ltp::PropValue::Time(kStart + 48 * kHour));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidTask(), 0x8101, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(1));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidTask(), 0x8102, u"", ltp::PropType::kDouble}, ltp::PropValue::Double(0.5));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidTask(), 0x811C, u"", ltp::PropType::kBoolean}, ltp::PropValue::Boolean(false));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidCommon(), 0x8518, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(0));
  m.attachments.push_back(testing::FileAttachment("draft.docx", testing::Pattern(9000)));
  return m;
}

messaging::MessageContent Note() {
  messaging::MessageContent m;
  messaging::PropertyBag& p = m.props;
  Common(p, "IPM.StickyNote", "Buy milk", "Buy milk\r\nand bread 🍞");
  p.SetNamed(messaging::NamedProperty{messaging::PsetidNote(), 0x8B00, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(3));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidNote(), 0x8B02, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(200));
  p.SetNamed(messaging::NamedProperty{messaging::PsetidNote(), 0x8B03, u"", ltp::PropType::kInt32}, ltp::PropValue::Int32(166));
  return m;
}

messaging::MessageContent Mail() {
  messaging::MessageContent m;
  testing::SetMail(m, "Quarterly numbers / Квартальные цифры", "See attached.\r\n添付を参照してください。");
  m.props.Set(messaging::kPrDisplayTo, ltp::PropValue::String("Bob Bauer; Chloé Durand"));
  m.props.Set(messaging::kPrDisplayCc, ltp::PropValue::String("Dmitri Ivanov"));
  m.props.Set(messaging::kPrInternetMessageId, ltp::PropValue::String("<q3@example.org>"));
  m.props.SetNamed(messaging::NamedProperty{messaging::PsInternetHeaders(), 0, u"x-mailer", ltp::PropType::kString}, ltp::PropValue::String("mv"));
  m.recipients.push_back(testing::Recipient("Bob Bauer", "bob@example.org", messaging::kRecipientTo));
  m.recipients.push_back(testing::Recipient("Chloé Durand", "chloe@example.fr", messaging::kRecipientTo));
  m.recipients.push_back(testing::Recipient("Dmitri Ivanov", "dmitri@example.ru", messaging::kRecipientCc));
  m.attachments.push_back(testing::FileAttachment("cifras_número.csv", {'a', ',', 'b'}, "text/csv"));
  return m;
}

TEST(ItemKinds, EachKindIsReadBackWholeByEveryReader) {
  ScratchDir dir;
  const auto path = dir / "kinds.pst";
  struct Saved {
    ndb::Nid nid;
    messaging::MessageContent content;
  };
  std::vector<Saved> saved;
  {
    auto store = messaging::PstStore::Create(path, "kinds");
    const std::pair<messaging::DefaultFolder, messaging::MessageContent (*)()> kinds[] = {
        {messaging::DefaultFolder::kInbox, Mail}, {messaging::DefaultFolder::kContacts, Contact},
        {messaging::DefaultFolder::kCalendar, Appointment}, {messaging::DefaultFolder::kTasks, Task},
        {messaging::DefaultFolder::kNotes, Note}};
    for (const auto& [folder, make] : kinds) {
      messaging::Message m(store->GetDefaultFolder(folder));
      m.content() = make();
      m.Save();
      saved.push_back({m.nid(), std::move(m.content())});
    }
    for (const Saved& s : saved) testing::ExpectSameContent(s.content, messaging::ReadMessage(*store, s.nid));
    store->Close();
  }
  ASSERT_TRUE(testing::ItemsClean(path));

  auto store = messaging::PstStore::Open(path, false);
  for (const Saved& s : saved) testing::ExpectSameContent(s.content, messaging::ReadMessage(*store, s.nid));
  bool ok = false;
  const auto seen = testing::ReadItemsWithPypff(path, ok);
  if (ok) {
    for (const Saved& s : saved) testing::ExpectPypffSees(*store, seen, s.nid, s.content);
  }
  const auto files = testing::ReadpstFiles(path, dir / "readpst");
  if (!files.empty()) {
    std::string all;
    for (const auto& [name, text] : files) all += "=== " + name + "\n" + text + "\n";
    auto has = [&](const std::string& what) { return all.find(what) != std::string::npos; };
    EXPECT_TRUE(has("Subject: " + testing::MimeWord("Quarterly numbers / Квартальные цифры"))) << all.substr(0, 4000);
    EXPECT_TRUE(has("添付を参照してください。")) << "body";
    EXPECT_TRUE(has("filename=\"cifras_número.csv\"")) << "attachment name";
    EXPECT_TRUE(has("To: " + testing::MimeWord("Bob Bauer; Chloé Durand")) && has("Cc: Dmitri Ivanov")) << "recipients";
    EXPECT_TRUE(has("FN:Ångström\\, Zoë")) << "contact file-as";
    EXPECT_TRUE(has("EMAIL:zoe.a@home.example") && has("EMAIL:z@third.example")) << "contact e-mail 2 and 3";
    EXPECT_TRUE(has("TITLE:Chief Engineer") && has("ROLE:Engineer")) << "job title and profession";
    EXPECT_TRUE(has("DTSTART;VALUE=DATE-TIME:") && has("TRIGGER:-PT15M")) << "appointment start and reminder";
    EXPECT_TRUE(has("BEGIN:VCARD")) << "contact as vCard";
    EXPECT_TRUE(has("zoe@nordlys.example")) << "contact e-mail";
    EXPECT_TRUE(has("Nordlys AS")) << "contact company";
    EXPECT_TRUE(has("BEGIN:VCALENDAR") || has("BEGIN:VEVENT")) << "appointment as iCalendar";
    EXPECT_TRUE(has("Planning — 計画")) << "appointment summary";
    EXPECT_TRUE(has("Room 4 / Sala 4")) << "appointment location";
  }
}

}  // namespace
}  // namespace mailvane::pst
