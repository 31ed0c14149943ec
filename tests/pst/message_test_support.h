// Shared bits of the message tests: building messages, comparing what was saved with what
// comes back (property order aside), and a reusable store in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "pst/messaging/message.h"
#include "pst/messaging/pst_store.h"
#include "pst/property_tags.h"
#include "support/files.h"

namespace mailvane::pst::testing {

inline std::string Describe(const MessageProperty& p) {
  std::ostringstream out;
  if (p.named) {
    out << "named(" << (p.named->IsString() ? Utf8FromUtf16(p.named->name) : std::to_string(p.named->lid))
        << ")";
  } else {
    out << std::hex << "0x" << p.tag;
  }
  out << " type " << std::hex << static_cast<unsigned>(p.value.type()) << std::dec << " "
      << p.value.bytes().size() << " bytes";
  return out.str();
}

// Properties as sorted text lines plus a hash of each value, so that a difference shows
// which property differs without printing a 20 MB body.
inline std::vector<std::string> Fingerprint(const PropertyBag& bag) {
  std::vector<std::string> out;
  for (const MessageProperty& p : bag.all()) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : p.value.bytes()) h = (h ^ b) * 1099511628211ull;
    std::string set;
    if (p.named) {
      for (std::uint8_t b : p.named->set) set += std::to_string(b) + ".";
    }
    out.push_back(Describe(p) + " " + set + " #" + std::to_string(h));
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline void ExpectSameContent(const MessageContent& want, const MessageContent& got,
                              const std::string& where = "message") {
  EXPECT_EQ(Fingerprint(want.props), Fingerprint(got.props)) << where;
  ASSERT_EQ(want.recipients.size(), got.recipients.size()) << where;
  for (std::size_t i = 0; i < want.recipients.size(); ++i) {
    EXPECT_EQ(Fingerprint(want.recipients[i]), Fingerprint(got.recipients[i])) << where << " recipient " << i;
  }
  ASSERT_EQ(want.attachments.size(), got.attachments.size()) << where;
  for (std::size_t i = 0; i < want.attachments.size(); ++i) {
    const AttachmentContent& a = want.attachments[i];
    const AttachmentContent& b = got.attachments[i];
    const std::string at = where + " attachment " + std::to_string(i);
    EXPECT_EQ(Fingerprint(a.props), Fingerprint(b.props)) << at;
    if (!a.file) {
      EXPECT_TRUE(a.bytes == b.bytes) << at << ": bytes differ";
    }
    ASSERT_EQ(a.embedded != nullptr, b.embedded != nullptr) << at;
    if (a.embedded) ExpectSameContent(*a.embedded, *b.embedded, at + " embedded");
  }
}

inline PropertyBag Recipient(const std::string& name, const std::string& address, std::int32_t type) {
  PropertyBag r;
  r.Set(kPrRecipientType, PropValue::Int32(type));
  r.Set(kPrDisplayName, PropValue::String(name));
  r.Set(kPrAddrType, PropValue::String("SMTP"));
  r.Set(kPrEmailAddress, PropValue::String(address));
  r.Set(kPrSmtpAddress, PropValue::String(address));
  return r;
}

inline AttachmentContent FileAttachment(const std::string& name, std::vector<std::uint8_t> bytes,
                                        const std::string& mime = "application/octet-stream") {
  AttachmentContent a;
  a.props.Set(kPrAttachLongFilename, PropValue::String(name));
  a.props.Set(kPrAttachFilename, PropValue::String(name));
  a.props.Set(kPrDisplayName, PropValue::String(name));
  a.props.Set(kPrAttachMimeTag, PropValue::String(mime));
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) a.props.Set(kPrAttachExtension, PropValue::String(name.substr(dot)));
  a.bytes = std::move(bytes);
  return a;
}

using testsupport::Pattern;

inline void SetMail(MessageContent& m, const std::string& subject, const std::string& body) {
  m.props.Set(kPrMessageClass, PropValue::String("IPM.Note"));
  m.props.Set(kPrSubject, PropValue::String(subject));
  m.props.Set(kPrBody, PropValue::String(body));
  m.props.Set(kPrSenderName, PropValue::String("Ann Sender"));
  m.props.Set(kPrSenderEmailAddress, PropValue::String("ann@example.org"));
  m.props.Set(kPrSentRepresentingName, PropValue::String("Ann Sender"));
  m.props.Set(kPrClientSubmitTime, PropValue::Time(FileTimeFromUnix(1700000000)));
  m.props.Set(kPrMessageDeliveryTime, PropValue::Time(FileTimeFromUnix(1700000100)));
  m.props.Set(kPrImportance, PropValue::Int32(1));
  m.props.Set(kPrMessageFlags, PropValue::Int32(kMsgFlagRead));
}

}  // namespace mailvane::pst::testing

#include "pst/check/pst_checker.h"

namespace mailvane::pst::testing {

// Our own files are held to more than Outlook's: no finding at all about items.
inline ::testing::AssertionResult ItemsClean(const std::filesystem::path& pst) {
  const CheckResult r = CheckPstFile(pst);
  bool ok = r.clean();
  for (const Finding& f : r.findings) ok = ok && f.area != "items";
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << FormatFindings(r);
}

}  // namespace mailvane::pst::testing
