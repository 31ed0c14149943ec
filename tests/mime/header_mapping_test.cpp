// Headers of a message to its MAPI properties and recipient table.
#include <gtest/gtest.h>

#include "base/file_time.h"
#include "mime/mime_parser.h"
#include "mime_test_helpers.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::mime {
namespace {

using testing::BinaryOf;
using testing::IntOf;
using testing::TextOf;

constexpr char kFullHeaders[] =
    "Received: from relay.example.net by mx.example.org; Tue, 2 Jan 2024 10:00:05 +0100\r\n"
    "Received: from client by relay.example.net; Tue, 2 Jan 2024 09:59:00 +0100\r\n"
    "From: =?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <jm@example.org>\r\n"
    "Sender: Secretary <sec@example.org>\r\n"
    "Reply-To: Team <team@example.org>, other@example.org\r\n"
    "To: \"Doe, Jane\" <jane@example.com>, bob@example.com\r\n"
    "Cc: Friends: ann@example.com, Carl <carl@example.com>;\r\n"
    "Bcc: hidden@example.com\r\n"
    "Subject: Re: =?ISO-8859-1?Q?caf=E9?= plans\r\n"
    "Date: Tue, 2 Jan 2024 09:58:00 +0100\r\n"
    "Message-ID: <abc@example.org>\r\n"
    "In-Reply-To: <prev@example.org>\r\n"
    "References: <first@example.org>\r\n <prev@example.org>\r\n"
    "\r\n"
    "Hello\r\n";

TEST(HeaderMapping, SubjectSenderRecipientsAndIdentifiers) {
  const ParsedMessage m = ParseMimeBytes(kFullHeaders);
  const auto& p = m.properties;
  EXPECT_EQ(TextOf(p, pst::messaging::kPrMessageClass), "IPM.Note");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSubject), "Re: café plans");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSubjectPrefix), "Re: ");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrNormalizedSubject), "café plans");

  // From: is the represented sender, Sender: the actual one.
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSentRepresentingName), "Jürgen Müller");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSentRepresentingEmailAddress), "jm@example.org");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSentRepresentingSmtpAddress), "jm@example.org");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSentRepresentingAddrType), "SMTP");
  EXPECT_EQ(BinaryOf(p, pst::messaging::kPrSentRepresentingSearchKey), std::string("SMTP:JM@EXAMPLE.ORG\0", 20));
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSenderName), "Secretary");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrSenderEmailAddress), "sec@example.org");
  ASSERT_TRUE(BinaryOf(p, pst::messaging::kPrSenderEntryId));

  EXPECT_EQ(TextOf(p, pst::messaging::kPrDisplayTo), "Doe, Jane; bob@example.com");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrDisplayCc), "ann@example.com; Carl");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrDisplayBcc), "hidden@example.com");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrReplyRecipientNames), "Team; other@example.org");

  // Group members are recipients of their own; the order is To, Cc, Bcc.
  ASSERT_EQ(m.recipients.size(), 5u);
  const struct {
    std::int32_t type;
    const char* name;
    const char* address;
  } expected[] = {{pst::messaging::kRecipientTo, "Doe, Jane", "jane@example.com"},
                  {pst::messaging::kRecipientTo, "bob@example.com", "bob@example.com"},
                  {pst::messaging::kRecipientCc, "ann@example.com", "ann@example.com"},
                  {pst::messaging::kRecipientCc, "Carl", "carl@example.com"},
                  {pst::messaging::kRecipientBcc, "hidden@example.com", "hidden@example.com"}};
  for (std::size_t i = 0; i < m.recipients.size(); ++i) {
    const auto& r = m.recipients[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(IntOf(r, pst::messaging::kPrRecipientType), expected[i].type);
    EXPECT_EQ(TextOf(r, pst::messaging::kPrDisplayName), expected[i].name);
    EXPECT_EQ(TextOf(r, pst::messaging::kPrEmailAddress), expected[i].address);
    EXPECT_EQ(TextOf(r, pst::messaging::kPrSmtpAddress), expected[i].address);
    EXPECT_EQ(TextOf(r, pst::messaging::kPrAddrType), "SMTP");
    EXPECT_TRUE(BinaryOf(r, pst::messaging::kPrEntryId));
  }

  EXPECT_EQ(TextOf(p, pst::messaging::kPrInternetMessageId), "<abc@example.org>");
  EXPECT_EQ(TextOf(p, pst::messaging::kPrInReplyToId), "<prev@example.org>");
  const auto refs = TextOf(p, pst::messaging::kPrInternetReferences);
  ASSERT_TRUE(refs);
  EXPECT_NE(refs->find("<first@example.org>"), std::string::npos);
  EXPECT_NE(refs->find("<prev@example.org>"), std::string::npos);
}

TEST(HeaderMapping, SubmitTimeFromDateAndDeliveryFromTopmostReceived) {
  const ParsedMessage m = ParseMimeBytes(kFullHeaders);
  const pst::ltp::PropValue* submit = m.Find(pst::messaging::kPrClientSubmitTime);
  const pst::ltp::PropValue* delivery = m.Find(pst::messaging::kPrMessageDeliveryTime);
  ASSERT_TRUE(submit && delivery);
  // 2024-01-02 08:58:00 UTC and 09:00:05 UTC.
  EXPECT_EQ(base::UnixFromFileTime(submit->AsTime()), 1704185880);
  EXPECT_EQ(base::UnixFromFileTime(delivery->AsTime()), 1704186005);

  const ParsedMessage no_received = ParseMimeBytes(
      "From: a@example.org\nDate: Tue, 2 Jan 2024 09:58:00 +0100\nSubject: x\n\nbody\n");
  ASSERT_TRUE(no_received.Find(pst::messaging::kPrMessageDeliveryTime));
  EXPECT_EQ(base::UnixFromFileTime(no_received.Find(pst::messaging::kPrMessageDeliveryTime)->AsTime()), 1704185880);
}

TEST(HeaderMapping, TransportHeadersAreTheWholeBlockWithCrlf) {
  const ParsedMessage m = ParseMimeBytes(
      "From: a@example.org\nX-Custom: kept as sent\nSubject: =?UTF-8?Q?x?=\n\nbody\n");
  const auto headers = TextOf(m.properties, pst::messaging::kPrTransportMessageHeaders);
  ASSERT_TRUE(headers);
  EXPECT_NE(headers->find("X-Custom: kept as sent\r\n"), std::string::npos);
  EXPECT_NE(headers->find("Subject: =?UTF-8?Q?x?=\r\n"), std::string::npos);  // raw, not decoded
  EXPECT_EQ(headers->find("\n\n"), std::string::npos);
  EXPECT_EQ(headers->find("body"), std::string::npos);
}

TEST(HeaderMapping, MissingHeadersGiveAMessageWithoutThoseProperties) {
  const ParsedMessage m = ParseMimeBytes("X-Nothing: here\n\njust text\n");
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrMessageClass), "IPM.Note");
  EXPECT_FALSE(m.Find(pst::messaging::kPrSubject));
  EXPECT_FALSE(m.Find(pst::messaging::kPrSenderName));
  EXPECT_FALSE(m.Find(pst::messaging::kPrClientSubmitTime));
  EXPECT_TRUE(m.recipients.empty());
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrBody), "just text\n");

  // No empty line after the headers: the body starts at the first line that is no header,
  // instead of being dropped with it.
  const ParsedMessage unended = ParseMimeBytes("Subject: hi\r\nTo: b@example.org\r\nHello Bob,\r\n"
                                               "see you at 10\r\n\r\nAnn\r\n");
  EXPECT_EQ(TextOf(unended.properties, pst::messaging::kPrSubject), "hi");
  EXPECT_EQ(unended.recipients.size(), 1u);
  EXPECT_EQ(TextOf(unended.properties, pst::messaging::kPrBody), "Hello Bob,\r\nsee you at 10\r\n\r\nAnn\r\n");
  EXPECT_EQ(unended.warnings.size(), 1u);
  EXPECT_EQ(TextOf(ParseMimeBytes("From: a@example.org\nthe only line").properties, pst::messaging::kPrBody),
            "the only line");
  // A stray line among headers stays GMime's to drop: the headers after it still count.
  const ParsedMessage stray = ParseMimeBytes("Subject: hi\nfolded without indent\nTo: b@example.org\n"
                                             "Content-Type: text/plain; charset=koi8-r\n\n\xF0\xD2\xC9\n");
  EXPECT_EQ(TextOf(stray.properties, pst::messaging::kPrBody), "При\n");
  EXPECT_EQ(stray.recipients.size(), 1u);
  EXPECT_TRUE(stray.warnings.empty());
}

TEST(HeaderMapping, EightBitHeadersAreReadAsUtf8OrWindows1252) {
  const ParsedMessage utf8 = ParseMimeBytes("Subject: Gr\xC3\xBC\xC3\x9F" "e\nFrom: J\xC3\xB6rg <j@example.org>\n\nx\n");
  EXPECT_EQ(TextOf(utf8.properties, pst::messaging::kPrSubject), "Grüße");
  EXPECT_EQ(TextOf(utf8.properties, pst::messaging::kPrSenderName), "Jörg");
  const ParsedMessage latin = ParseMimeBytes("Subject: caf\xE9 \x80 5\n\nx\n");
  EXPECT_EQ(TextOf(latin.properties, pst::messaging::kPrSubject), "café € 5");
}

TEST(HeaderMapping, SenderFallsBackToFromAndBadDatesAreLeftOut) {
  const ParsedMessage m = ParseMimeBytes(
      "From: Ann <ann@example.org>\nDate: not a date at all\nTo: ,,, \nSubject: hi\n\nx\n");
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrSenderName), "Ann");
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrSenderSmtpAddress), "ann@example.org");
  EXPECT_FALSE(m.Find(pst::messaging::kPrClientSubmitTime));
  EXPECT_TRUE(m.recipients.empty());
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrDisplayTo), "");
}

}  // namespace
}  // namespace mailvane::mime
