#include <gtest/gtest.h>

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
  auto store = PstStore::Create(path, "types");
  Message m(store->GetDefaultFolder(DefaultFolder::kInbox));
  PropertyBag& p = m.content().props;
  testing::SetMail(m.content(), "Types: Grüße, 日本語, Привет, שלום", "body");
  p.Set(MakeTag(0x6601, PropType::kInt16), PropValue::Int16(-2));
  p.Set(MakeTag(0x6602, PropType::kInt32), PropValue::Int32(-123456));
  p.Set(MakeTag(0x6603, PropType::kInt64), PropValue::Int64(-(std::int64_t{1} << 40)));
  p.Set(MakeTag(0x6604, PropType::kDouble), PropValue::Double(0.75));
  p.Set(MakeTag(0x6605, PropType::kBoolean), PropValue::Boolean(true));
  p.Set(MakeTag(0x6606, PropType::kBoolean), PropValue::Boolean(false));
  p.Set(MakeTag(0x6607, PropType::kTime), PropValue::Time(FileTimeFromUnix(0)));
  p.Set(MakeTag(0x6608, PropType::kBinary), PropValue::Binary(Pattern(100)));
  p.Set(MakeTag(0x6609, PropType::kBinary), PropValue::Binary({}));
  p.Set(MakeTag(0x660A, PropType::kGuid), PropValue::GuidValue(PsetidAddress()));
  p.Set(MakeTag(0x660B, PropType::kString), PropValue::String(""));
  p.Set(MakeTag(0x660C, PropType::kMvString), PropValue::MvString({"one", "", "drei 🙂"}));
  p.Set(MakeTag(0x660D, PropType::kMvBinary), PropValue::MvBinary({{1, 2, 3}, {}, Pattern(5000)}));
  p.Set(MakeTag(0x660E, PropType::kMvInt32), PropValue::MvInt32({1, -1, 0x7FFFFFFF}));
  p.Set(MakeTag(0x660F, PropType::kBinary), PropValue::Binary(Pattern(3580)));  // largest heap value
  p.Set(MakeTag(0x6610, PropType::kBinary), PropValue::Binary(Pattern(3581)));  // smallest subnode value
  p.SetNamed(NamedProperty{PsetidAddress(), 0x8083, u"", PropType::kString}, PropValue::String("a@b.c"));
  p.SetNamed(NamedProperty{PsPublicStrings(), 0, u"Keywords", PropType::kMvString}, PropValue::MvString({"Red"}));
  p.SetNamed(NamedProperty{PsInternetHeaders(), 0, u"x-mailer", PropType::kString}, PropValue::String("mv"));
  m.Save();
  EXPECT_TRUE(m.saved());
  ExpectSameContent(m.content(), ReadMessage(*store, m.nid()));
  store->Close();
  ASSERT_TRUE(testing::ItemsClean(path));

  auto again = PstStore::Open(path, false);
  ExpectSameContent(m.content(), ReadMessage(*again, m.nid()));
  // "Keywords" keeps the id a new store gives it; the other names follow.
  EXPECT_EQ(again->name_to_id_map().Find({PsPublicStrings(), 0, u"Keywords", PropType::kMvString}), 0x8000);
}

TEST(Message, DerivedPropertiesFollowTheContent) {
  ScratchDir dir;
  const auto path = dir / "derived.pst";
  auto store = PstStore::Create(path, "derived");
  Folder inbox = store->GetDefaultFolder(DefaultFolder::kInbox);
  Message m(inbox);
  testing::SetMail(m.content(), "Hello", "First body");
  m.content().props.Set(kPrMessageFlags, PropValue::Int32(kMsgFlagHasAttach));  // caller's stale flag
  m.Save();
  auto flags = [&] { return ReadMessage(*store, m.nid()).props.Find(kPrMessageFlags)->AsInt32(); };
  EXPECT_EQ(flags(), 0) << "no attachments: no MSGFLAG_HASATTACH";
  EXPECT_EQ(inbox.content_count(), 1);
  EXPECT_EQ(inbox.unread_count(), 1);
  const auto created = m.content().props.Find(kPrCreationTime);
  ASSERT_NE(created, nullptr);
  const auto search_key = m.content().props.Find(kPrSearchKey)->bytes();
  EXPECT_EQ(search_key.size(), 16u);
  EXPECT_EQ(m.content().props.Find(kPrEntryId)->bytes(), m.EntryId());

  // Second save: read, one attachment, a new body; old blocks released (checker: refcounts).
  m.content().props.Set(kPrMessageFlags, PropValue::Int32(kMsgFlagRead));
  m.content().props.Set(kPrBody, PropValue::String(std::string(50000, 'x')));
  m.content().attachments.push_back(testing::FileAttachment("a.bin", Pattern(10)));
  const Nid nid = m.nid();
  m.Save();
  EXPECT_EQ(m.nid(), nid);
  EXPECT_EQ(flags(), kMsgFlagRead | kMsgFlagHasAttach);
  EXPECT_EQ(inbox.content_count(), 1);
  EXPECT_EQ(inbox.unread_count(), 0);
  EXPECT_EQ(m.content().props.Find(kPrSearchKey)->bytes(), search_key) << "stable across saves";
  const MessageContent back = ReadMessage(*store, m.nid());
  ExpectSameContent(m.content(), back);
  const std::int32_t size = back.props.Find(kPrMessageSize)->AsInt32();
  EXPECT_GT(size, 50000);
  EXPECT_EQ(back.attachments[0].props.Find(kPrAttachMethod)->AsInt32(), kAttachByValue);
  EXPECT_EQ(back.attachments[0].props.Find(kPrRenderingPosition)->AsInt32(), -1);
  store->Close();
  ASSERT_TRUE(testing::ItemsClean(path));
}

}  // namespace
}  // namespace mailvane::pst
