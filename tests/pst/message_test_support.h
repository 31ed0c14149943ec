// Shared bits of the message tests: building messages, comparing what was saved with what
// comes back (property order aside), and a reusable store in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "base/file_time.h"
#include "base/utf.h"
#include "pst/messaging/message.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging/property_tags.h"
#include "support/files.h"

namespace mailvane::pst::testing {

inline std::string Describe(const messaging::MessageProperty& p) {
  std::ostringstream out;
  if (p.named) {
    out << "named(" << (p.named->IsString() ? base::Utf8FromUtf16(p.named->name) : std::to_string(p.named->lid))
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
inline std::vector<std::string> Fingerprint(const messaging::PropertyBag& bag) {
  std::vector<std::string> out;
  for (const messaging::MessageProperty& p : bag.all()) {
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

inline void ExpectSameContent(const messaging::MessageContent& want, const messaging::MessageContent& got,
                              const std::string& where = "message") {
  EXPECT_EQ(Fingerprint(want.props), Fingerprint(got.props)) << where;
  ASSERT_EQ(want.recipients.size(), got.recipients.size()) << where;
  for (std::size_t i = 0; i < want.recipients.size(); ++i) {
    EXPECT_EQ(Fingerprint(want.recipients[i]), Fingerprint(got.recipients[i])) << where << " recipient " << i;
  }
  ASSERT_EQ(want.attachments.size(), got.attachments.size()) << where;
  for (std::size_t i = 0; i < want.attachments.size(); ++i) {
    const messaging::AttachmentContent& a = want.attachments[i];
    const messaging::AttachmentContent& b = got.attachments[i];
    const std::string at = where + " attachment " + std::to_string(i);
    EXPECT_EQ(Fingerprint(a.props), Fingerprint(b.props)) << at;
    EXPECT_TRUE(a.bytes == b.bytes) << at << ": bytes differ";
    ASSERT_EQ(a.embedded != nullptr, b.embedded != nullptr) << at;
    if (a.embedded) ExpectSameContent(*a.embedded, *b.embedded, at + " embedded");
  }
}

inline messaging::PropertyBag Recipient(const std::string& name, const std::string& address, std::int32_t type) {
  messaging::PropertyBag r;
  r.Set(messaging::kPrRecipientType, ltp::PropValue::Int32(type));
  r.Set(messaging::kPrDisplayName, ltp::PropValue::String(name));
  r.Set(messaging::kPrAddrType, ltp::PropValue::String("SMTP"));
  r.Set(messaging::kPrEmailAddress, ltp::PropValue::String(address));
  r.Set(messaging::kPrSmtpAddress, ltp::PropValue::String(address));
  return r;
}

inline messaging::AttachmentContent FileAttachment(const std::string& name, std::vector<std::uint8_t> bytes,
                                        const std::string& mime = "application/octet-stream") {
  messaging::AttachmentContent a;
  a.props.Set(messaging::kPrAttachLongFilename, ltp::PropValue::String(name));
  a.props.Set(messaging::kPrAttachFilename, ltp::PropValue::String(name));
  a.props.Set(messaging::kPrDisplayName, ltp::PropValue::String(name));
  a.props.Set(messaging::kPrAttachMimeTag, ltp::PropValue::String(mime));
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) a.props.Set(messaging::kPrAttachExtension, ltp::PropValue::String(name.substr(dot)));
  a.bytes = std::move(bytes);
  return a;
}

using testsupport::Pattern;

inline void SetMail(messaging::MessageContent& m, const std::string& subject, const std::string& body) {
  m.props.Set(messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note"));
  m.props.Set(messaging::kPrSubject, ltp::PropValue::String(subject));
  m.props.Set(messaging::kPrBody, ltp::PropValue::String(body));
  m.props.Set(messaging::kPrSenderName, ltp::PropValue::String("Ann Sender"));
  m.props.Set(messaging::kPrSenderEmailAddress, ltp::PropValue::String("ann@example.org"));
  m.props.Set(messaging::kPrSentRepresentingName, ltp::PropValue::String("Ann Sender"));
  m.props.Set(messaging::kPrClientSubmitTime, ltp::PropValue::Time(base::FileTimeFromUnix(1700000000)));
  m.props.Set(messaging::kPrMessageDeliveryTime, ltp::PropValue::Time(base::FileTimeFromUnix(1700000100)));
  m.props.Set(messaging::kPrImportance, ltp::PropValue::Int32(1));
  m.props.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagRead));
}

}  // namespace mailvane::pst::testing

#include "pst/check/pst_checker.h"

namespace mailvane::pst::testing {

// Our own files are held to more than Outlook's: no finding at all about items.
inline ::testing::AssertionResult ItemsClean(const std::filesystem::path& pst) {
  const check::CheckResult r = check::CheckPstFile(pst);
  bool ok = r.clean();
  for (const check::Finding& f : r.findings) ok = ok && f.area != "items";
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << check::FormatFindings(r);
}

}  // namespace mailvane::pst::testing
