#include <gtest/gtest.h>

#include "base/file_time.h"
#include "pst/message_test_support.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::CheckerClean;
using testing::ExpectSameContent;
using testing::Pattern;
using testing::ScratchDir;

TEST(Message, EveryPropertyTypeComesBackAsWritten) {
  ScratchDir dir;
  const auto path = dir / "types.pst";
  auto store = messaging::PstStore::Create(path, "types");
  messaging::Message m(store->GetDefaultFolder(messaging::DefaultFolder::kInbox));
  messaging::PropertyBag& p = m.content().props;
  testing::SetMail(m.content(), "Types: Grüße, 日本語, Привет, שלום", "body");
  p.Set(ltp::MakeTag(0x6601, ltp::PropType::kInt16), ltp::PropValue::Int16(-2));
  p.Set(ltp::MakeTag(0x6602, ltp::PropType::kInt32), ltp::PropValue::Int32(-123456));
  p.Set(ltp::MakeTag(0x6603, ltp::PropType::kInt64), ltp::PropValue::Int64(-(std::int64_t{1} << 40)));
  p.Set(ltp::MakeTag(0x6604, ltp::PropType::kDouble), ltp::PropValue::Double(0.75));
  p.Set(ltp::MakeTag(0x6605, ltp::PropType::kBoolean), ltp::PropValue::Boolean(true));
  p.Set(ltp::MakeTag(0x6606, ltp::PropType::kBoolean), ltp::PropValue::Boolean(false));
  p.Set(ltp::MakeTag(0x6607, ltp::PropType::kTime), ltp::PropValue::Time(base::FileTimeFromUnix(0)));
  p.Set(ltp::MakeTag(0x6608, ltp::PropType::kBinary), ltp::PropValue::Binary(Pattern(100)));
  p.Set(ltp::MakeTag(0x6609, ltp::PropType::kBinary), ltp::PropValue::Binary({}));
  p.Set(ltp::MakeTag(0x660A, ltp::PropType::kGuid), ltp::PropValue::GuidValue(messaging::PsetidAddress()));
  p.Set(ltp::MakeTag(0x660B, ltp::PropType::kString), ltp::PropValue::String(""));
  p.Set(ltp::MakeTag(0x660C, ltp::PropType::kMvString), ltp::PropValue::MvString({"one", "", "drei 🙂"}));
  p.Set(ltp::MakeTag(0x660D, ltp::PropType::kMvBinary), ltp::PropValue::MvBinary({{1, 2, 3}, {}, Pattern(5000)}));
  p.Set(ltp::MakeTag(0x660E, ltp::PropType::kMvInt32), ltp::PropValue::MvInt32({1, -1, 0x7FFFFFFF}));
  p.Set(ltp::MakeTag(0x660F, ltp::PropType::kBinary), ltp::PropValue::Binary(Pattern(3580)));  // largest heap value
  p.Set(ltp::MakeTag(0x6610, ltp::PropType::kBinary), ltp::PropValue::Binary(Pattern(3581)));  // smallest subnode value
  p.SetNamed(messaging::NamedProperty{messaging::PsetidAddress(), 0x8083, u"", ltp::PropType::kString}, ltp::PropValue::String("a@b.c"));
  p.SetNamed(messaging::NamedProperty{messaging::PsPublicStrings(), 0, u"Keywords", ltp::PropType::kMvString}, ltp::PropValue::MvString({"Red"}));
  p.SetNamed(messaging::NamedProperty{messaging::PsInternetHeaders(), 0, u"x-mailer", ltp::PropType::kString}, ltp::PropValue::String("mv"));
  m.Save();
  EXPECT_TRUE(m.saved());
  ExpectSameContent(m.content(), messaging::ReadMessage(*store, m.nid()));
  store->Close();
  ASSERT_TRUE(testing::ItemsClean(path));

  auto again = messaging::PstStore::Open(path, false);
  ExpectSameContent(m.content(), messaging::ReadMessage(*again, m.nid()));
  // "Keywords" keeps the id a new store gives it; the other names follow.
  EXPECT_EQ(again->name_to_id_map().Find({messaging::PsPublicStrings(), 0, u"Keywords", ltp::PropType::kMvString}), 0x8000);
}

TEST(Message, DerivedPropertiesFollowTheContent) {
  ScratchDir dir;
  const auto path = dir / "derived.pst";
  auto store = messaging::PstStore::Create(path, "derived");
  messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
  messaging::Message m(inbox);
  testing::SetMail(m.content(), "Hello", "First body");
  m.content().props.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagHasAttach));  // caller's stale flag
  m.Save();
  auto flags = [&] { return messaging::ReadMessage(*store, m.nid()).props.Find(messaging::kPrMessageFlags)->AsInt32(); };
  EXPECT_EQ(flags(), 0) << "no attachments: no MSGFLAG_HASATTACH";
  EXPECT_EQ(inbox.content_count(), 1);
  EXPECT_EQ(inbox.unread_count(), 1);
  const auto created = m.content().props.Find(messaging::kPrCreationTime);
  ASSERT_NE(created, nullptr);
  const auto search_key = m.content().props.Find(messaging::kPrSearchKey)->bytes();
  EXPECT_EQ(search_key.size(), 16u);
  EXPECT_EQ(m.content().props.Find(messaging::kPrEntryId)->bytes(), m.EntryId());

  // Second save: read, one attachment, a new body; old blocks released (checker: refcounts).
  m.content().props.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagRead));
  m.content().props.Set(messaging::kPrBody, ltp::PropValue::String(std::string(50000, 'x')));
  m.content().attachments.push_back(testing::FileAttachment("a.bin", Pattern(10)));
  const ndb::Nid nid = m.nid();
  m.Save();
  EXPECT_EQ(m.nid(), nid);
  EXPECT_EQ(flags(), messaging::kMsgFlagRead | messaging::kMsgFlagHasAttach);
  EXPECT_EQ(inbox.content_count(), 1);
  EXPECT_EQ(inbox.unread_count(), 0);
  EXPECT_EQ(m.content().props.Find(messaging::kPrSearchKey)->bytes(), search_key) << "stable across saves";
  const messaging::MessageContent back = messaging::ReadMessage(*store, m.nid());
  ExpectSameContent(m.content(), back);
  const std::int32_t size = back.props.Find(messaging::kPrMessageSize)->AsInt32();
  EXPECT_GT(size, 50000);
  EXPECT_EQ(back.attachments[0].props.Find(messaging::kPrAttachMethod)->AsInt32(), messaging::kAttachByValue);
  EXPECT_EQ(back.attachments[0].props.Find(messaging::kPrRenderingPosition)->AsInt32(), -1);
  store->Close();
  ASSERT_TRUE(testing::ItemsClean(path));
}

}  // namespace
}  // namespace mailvane::pst
