// Messages of each kind the converter writes (e-mail with a property of every type,
// contact, appointment, task, sticky note) read back by our reader, our checker, pypff
// property by property and readpst's exports; and what the store derives when a message
// is saved and saved again.
#include <gtest/gtest.h>

#include "base/file_time.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using ltp::PropType;
using ltp::PropValue;
using testing::Pattern;
using testing::ScratchDir;

constexpr base::FileTime kStart = 133500000000000000ull;  // 2024-01-20 11:20 UTC
constexpr base::FileTime kHour = 36000000000ull;

void Named(messaging::PropertyBag& p, const ltp::Guid& set, std::uint32_t lid, PropValue value) {
  p.SetNamed(messaging::NamedProperty{set, lid, u"", value.type()}, std::move(value));
}

void Common(messaging::PropertyBag& p, const char* cls, const std::string& subject, const std::string& body) {
  p.Set(messaging::kPrMessageClass, PropValue::String(cls));
  p.Set(messaging::kPrSubject, PropValue::String(subject));
  p.Set(messaging::kPrBody, PropValue::String(body));
  p.Set(messaging::kPrMessageFlags, PropValue::Int32(messaging::kMsgFlagRead));
  p.SetNamed(messaging::NamedProperty{messaging::PsPublicStrings(), 0, u"Keywords", PropType::kMvString},
             PropValue::MvString({"Work", "Κατηγορία"}));
}

messaging::MessageContent Mail() {
  messaging::MessageContent m;
  testing::SetMail(m, "Quarterly numbers / Квартальные цифры", "See attached.\r\n添付を参照してください。");
  messaging::PropertyBag& p = m.props;
  p.Set(messaging::kPrDisplayTo, PropValue::String("Bob Bauer; Chloé Durand"));
  p.Set(messaging::kPrDisplayCc, PropValue::String("Dmitri Ivanov"));
  const PropValue every_type[] = {
      PropValue::Int16(-2), PropValue::Int32(-123456), PropValue::Int64(-(std::int64_t{1} << 40)),
      PropValue::Double(0.75), PropValue::Boolean(true), PropValue::Boolean(false),
      PropValue::Time(base::FileTimeFromUnix(0)), PropValue::Binary({}), PropValue::String(""),
      PropValue::GuidValue(messaging::PsetidAddress()), PropValue::MvString({"one", "", "drei 🙂"}),
      PropValue::MvBinary({{1, 2, 3}, {}, Pattern(5000)}), PropValue::MvInt32({1, -1, 0x7FFFFFFF}),
      PropValue::Binary(Pattern(3580)), PropValue::Binary(Pattern(3581))};  // largest heap value, smallest subnode
  std::uint16_t id = 0x6601;
  for (const PropValue& v : every_type) p.Set(ltp::MakeTag(id++, v.type()), v);
  Named(p, messaging::PsetidAddress(), 0x8083, PropValue::String("a@b.c"));
  p.SetNamed(messaging::NamedProperty{messaging::PsInternetHeaders(), 0, u"x-mailer", PropType::kString},
             PropValue::String("mv"));
  m.recipients.push_back(testing::Recipient("Bob Bauer", "bob@example.org", messaging::kRecipientTo));
  m.recipients.push_back(testing::Recipient("Chloé Durand", "chloe@example.fr", messaging::kRecipientTo));
  m.recipients.push_back(testing::Recipient("Dmitri Ivanov", "dmitri@example.ru", messaging::kRecipientCc));
  m.attachments.push_back(testing::FileAttachment("cifras_número.csv", {'a', ',', 'b'}, "text/csv"));
  return m;
}

messaging::MessageContent Contact() {
  messaging::MessageContent m;
  messaging::PropertyBag& p = m.props;
  Common(p, "IPM.Contact", "Zoë Ångström", "Met at the conference.\r\nСпасибо!");
  const std::pair<std::uint16_t, const char*> texts[] = {
      {0x3001, "Zoë Ångström"}, {0x3A06, "Zoë"}, {0x3A11, "Ångström"}, {0x3A16, "Nordlys AS"},
      {0x3A17, "Chief Engineer"}, {0x3A46, "Engineer"}, {0x3A08, "+47 22 00 00 01"}, {0x3A27, "Oslo"}};
  for (const auto& [tag_id, text] : texts) p.Set(ltp::MakeTag(tag_id, PropType::kString), PropValue::String(text));
  const auto& address = messaging::PsetidAddress();
  Named(p, address, 0x8005, PropValue::String("Ångström, Zoë"));  // file as
  const char* emails[3] = {"zoe@nordlys.example", "zoe.a@home.example", "z@third.example"};
  for (std::uint32_t n = 0; n < 3; ++n) {
    Named(p, address, 0x8080 + 0x10 * n, PropValue::String(emails[n]));
    Named(p, address, 0x8082 + 0x10 * n, PropValue::String("SMTP"));
    Named(p, address, 0x8083 + 0x10 * n, PropValue::String(emails[n]));
  }
  Named(p, address, 0x8029, PropValue::Int32(7));
  p.Set(ltp::MakeTag(0x3A42, PropType::kTime), PropValue::Time(kStart));  // birthday
  messaging::AttachmentContent picture = testing::FileAttachment("ContactPicture.jpg", Pattern(3000), "image/jpeg");
  picture.props.Set(ltp::MakeTag(0x7FFF, PropType::kBoolean), PropValue::Boolean(true));  // the contact's photo
  m.attachments.push_back(std::move(picture));
  return m;
}

messaging::MessageContent Appointment() {
  messaging::MessageContent m;
  messaging::PropertyBag& p = m.props;
  Common(p, "IPM.Appointment", "Planning — 計画", "Agenda:\r\n1. Budget");
  const auto& appointment = messaging::PsetidAppointment();
  Named(p, appointment, 0x820D, PropValue::Time(kStart));
  Named(p, appointment, 0x820E, PropValue::Time(kStart + 2 * kHour));
  Named(p, appointment, 0x8208, PropValue::String("Room 4 / Sala 4"));
  Named(p, appointment, 0x8215, PropValue::Boolean(false));
  Named(p, messaging::PsetidCommon(), 0x8503, PropValue::Boolean(true));  // reminder, 15 minutes before
  Named(p, messaging::PsetidCommon(), 0x8501, PropValue::Int32(15));
  m.attachments.push_back(testing::FileAttachment("agenda.txt", {'1', '.', ' ', 'B'}, "text/plain"));
  return m;
}

messaging::MessageContent Task() {
  messaging::MessageContent m;
  Common(m.props, "IPM.Task", "Write the report", "Chapters 1 to 3");
  Named(m.props, messaging::PsetidTask(), 0x8105, PropValue::Time(kStart + 48 * kHour));
  Named(m.props, messaging::PsetidTask(), 0x8102, PropValue::Double(0.5));
  m.attachments.push_back(testing::FileAttachment("draft.docx", Pattern(9000)));
  return m;
}

messaging::MessageContent Note() {
  messaging::MessageContent m;
  Common(m.props, "IPM.StickyNote", "Buy milk", "Buy milk\r\nand bread 🍞");
  Named(m.props, messaging::PsetidNote(), 0x8B00, PropValue::Int32(3));
  return m;
}

TEST(ItemKinds, EachKindIsReadBackWholeByEveryReader) {
  ScratchDir dir;
  const auto path = dir / "kinds.pst";
  std::vector<std::pair<ndb::Nid, messaging::MessageContent>> saved;
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
      testing::ExpectSameContent(*store, m.content(), messaging::ReadMessage(*store, m.nid()), "before close");
      saved.emplace_back(m.nid(), std::move(m.content()));
    }
    store->Close();
  }
  testing::ExpectEveryReaderAgrees(path, saved, dir.path());
  const std::string all = testing::ReadpstText(path, dir / "readpst");
  if (all.empty()) return;
  auto has = [&](const std::string& what) { return all.find(what) != std::string::npos; };
  EXPECT_TRUE(has("Subject: =?utf-8?B?" + testsupport::Base64("Quarterly numbers / Квартальные цифры") + "?="))
      << all.substr(0, 4000);
  EXPECT_TRUE(has("添付を参照してください。")) << "body";
  EXPECT_TRUE(has("filename=\"cifras_número.csv\"")) << "attachment name";
  EXPECT_TRUE(has("To: =?utf-8?B?" + testsupport::Base64("Bob Bauer; Chloé Durand") + "?=") && has("Cc: Dmitri Ivanov"))
      << "recipients";
  EXPECT_TRUE(has("BEGIN:VCARD") && has("FN:Ångström\\, Zoë") && has("Nordlys AS")) << "contact as vCard";
  EXPECT_TRUE(has("zoe@nordlys.example") && has("EMAIL:zoe.a@home.example") && has("EMAIL:z@third.example"))
      << "contact e-mail 1 to 3";
  EXPECT_TRUE(has("TITLE:Chief Engineer") && has("ROLE:Engineer")) << "job title and profession";
  EXPECT_TRUE(has("BEGIN:VEVENT") && has("Planning — 計画") && has("Room 4 / Sala 4")) << "appointment";
  EXPECT_TRUE(has("DTSTART;VALUE=DATE-TIME:") && has("TRIGGER:-PT15M")) << "appointment start and reminder";
}

TEST(Message, DerivedPropertiesFollowTheContent) {
  ScratchDir dir;
  const auto path = dir / "derived.pst";
  auto store = messaging::PstStore::Create(path, "derived");
  messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
  messaging::Message m(inbox);
  testing::SetMail(m.content(), "Hello", "First body");
  m.content().props.Set(messaging::kPrMessageFlags, PropValue::Int32(messaging::kMsgFlagHasAttach));  // a stale flag
  m.Save();
  auto flags = [&] { return messaging::ReadMessage(*store, m.nid()).props.Find(messaging::kPrMessageFlags)->AsInt32(); };
  EXPECT_EQ(flags(), 0) << "no attachments: no MSGFLAG_HASATTACH";
  EXPECT_EQ(inbox.content_count(), 1);
  EXPECT_EQ(inbox.unread_count(), 1);
  ASSERT_NE(m.content().props.Find(messaging::kPrCreationTime), nullptr);
  const auto search_key = m.content().props.Find(messaging::kPrSearchKey)->bytes();
  EXPECT_EQ(search_key.size(), 16u);
  EXPECT_EQ(m.content().props.Find(messaging::kPrEntryId)->bytes(), m.EntryId());

  // Second save: read, one attachment, a new body; the old blocks are released (the
  // checker counts references).
  m.content().props.Set(messaging::kPrMessageFlags, PropValue::Int32(messaging::kMsgFlagRead));
  m.content().props.Set(messaging::kPrBody, PropValue::String(std::string(50000, 'x')));
  m.content().attachments.push_back(testing::FileAttachment("a.bin", Pattern(10)));
  const ndb::Nid nid = m.nid();
  m.Save();
  EXPECT_EQ(m.nid(), nid);
  EXPECT_EQ(flags(), messaging::kMsgFlagRead | messaging::kMsgFlagHasAttach);
  EXPECT_EQ(inbox.content_count(), 1);
  EXPECT_EQ(inbox.unread_count(), 0);
  EXPECT_EQ(m.content().props.Find(messaging::kPrSearchKey)->bytes(), search_key) << "stable across saves";
  const messaging::MessageContent back = messaging::ReadMessage(*store, m.nid());
  testing::ExpectSameContent(*store, m.content(), back);
  EXPECT_GT(back.props.Find(messaging::kPrMessageSize)->AsInt32(), 50000);
  EXPECT_EQ(back.attachments[0].props.Find(messaging::kPrAttachMethod)->AsInt32(), messaging::kAttachByValue);
  EXPECT_EQ(back.attachments[0].props.Find(messaging::kPrRenderingPosition)->AsInt32(), -1);
  store->Close();
  ASSERT_TRUE(testing::Clean(path));
}

}  // namespace
}  // namespace mailvane::pst
