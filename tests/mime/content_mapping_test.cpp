// Bodies, attachments and attached messages of a MIME message.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "mime/mime_parser.h"
#include "mime_test_helpers.h"
#include "pst/messaging/property_tags.h"
#include "support/files.h"

namespace mailvane::mime {
namespace {

using testing::BinaryOf;
using testing::BytesAsString;
using testing::IntOf;
using testing::TextOf;

TEST(ContentMapping, AlternativeGivesPlainAndHtmlBodiesAndNoAttachments) {
  const ParsedMessage m = ParseMimeBytes(
      "Subject: alt\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=b\n\n"
      "--b\nContent-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
      "caf=E9\n"
      "--b\nContent-Type: text/enriched\n\n<bold>cafe</bold>\n"
      "--b\nContent-Type: text/html; charset=iso-8859-1\n\n<p>caf\xE9</p>\n"
      "--b--\n");
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrBody), "café");
  // The HTML keeps the sender's bytes, and the code page says how to read them.
  EXPECT_EQ(BinaryOf(m.properties, pst::messaging::kPrHtml), "<p>caf\xE9</p>");
  EXPECT_EQ(IntOf(m.properties, pst::messaging::kPrInternetCpid), 28591);
  EXPECT_TRUE(m.attachments.empty());
  EXPECT_FALSE(m.Find(pst::messaging::kPrHasAttachments)->AsBool());
}

TEST(ContentMapping, HtmlOnlyAndUnknownCharsetsFallBack) {
  const ParsedMessage html = ParseMimeBytes(
      "Content-Type: text/html; charset=x-unheard-of\n\n<b>na\xEFve \x93quoted\x94</b>\n");
  EXPECT_FALSE(html.Find(pst::messaging::kPrBody));
  EXPECT_EQ(BinaryOf(html.properties, pst::messaging::kPrHtml), "<b>naïve “quoted”</b>\n");
  EXPECT_EQ(IntOf(html.properties, pst::messaging::kPrInternetCpid), 65001);
  EXPECT_FALSE(html.warnings.empty());

  // An empty HTML part gives no HTML body: an empty one reads as a value that is missing.
  const ParsedMessage empty_html = ParseMimeBytes("Content-Type: text/html\n\n");
  EXPECT_FALSE(empty_html.Find(pst::messaging::kPrHtml));

  // Declared UTF-8 that is not: read as Windows-1252, not left as broken text.
  const ParsedMessage bad_utf8 =
      ParseMimeBytes("Content-Type: text/plain; charset=utf-8\n\nGr\xFC\xDF" "e\n");
  EXPECT_EQ(TextOf(bad_utf8.properties, pst::messaging::kPrBody), "Grüße\n");

  // Undeclared 8-bit text that is valid UTF-8 stays UTF-8.
  const ParsedMessage undeclared = ParseMimeBytes("Subject: x\n\nZ\xC3\xBCrich\n");
  EXPECT_EQ(TextOf(undeclared.properties, pst::messaging::kPrBody), "Zürich\n");

  const ParsedMessage koi8 =
      ParseMimeBytes("Content-Type: text/plain; charset=koi8-r\n\n\xF0\xD2\xC9\xD7\xC5\xD4\n");
  EXPECT_EQ(TextOf(koi8.properties, pst::messaging::kPrBody), "Привет\n");
  EXPECT_EQ(IntOf(koi8.properties, pst::messaging::kPrInternetCpid), 20866);
}

TEST(ContentMapping, MixedGivesAttachmentsWithDecodedNamesAndBytes) {
  const ParsedMessage m = ParseMimeBytes(
      "Subject: files\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"=-x\"\n\n"
      "--=-x\nContent-Type: text/plain\n\nsee attached\n"
      "--=-x\nContent-Type: application/pdf; name=\"=?UTF-8?B?UmVwb3J0IMOcYmVyc2ljaHQucGRm?=\"\n"
      "Content-Disposition: attachment\nContent-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n"
      "--=-x\nContent-Type: application/octet-stream\n"
      "Content-Disposition: attachment; filename*=iso-8859-1''r%E9sum%E9%20final.docx\n\nabc\n"
      "--=-x\nContent-Type: text/plain; name=\"../../etc/passwd\"\n\nroot\n"
      "--=-x\nContent-Type: text/plain\n\nan inline text after the body\n"
      "--=-x--\n");
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrBody), "see attached");
  ASSERT_EQ(m.attachments.size(), 4u);
  EXPECT_TRUE(m.Find(pst::messaging::kPrHasAttachments)->AsBool());

  const auto& pdf = m.attachments[0];
  EXPECT_EQ(TextOf(pdf.properties, pst::messaging::kPrAttachLongFilename), "Report Übersicht.pdf");
  EXPECT_EQ(TextOf(pdf.properties, pst::messaging::kPrDisplayName), "Report Übersicht.pdf");
  EXPECT_EQ(TextOf(pdf.properties, pst::messaging::kPrAttachFilename), "REPORT~1.PDF");
  EXPECT_EQ(TextOf(pdf.properties, pst::messaging::kPrAttachExtension), ".pdf");
  EXPECT_EQ(TextOf(pdf.properties, pst::messaging::kPrAttachMimeTag), "application/pdf");
  EXPECT_EQ(IntOf(pdf.properties, pst::messaging::kPrAttachMethod), pst::messaging::kAttachByValue);
  EXPECT_EQ(BytesAsString(pdf.data), "%PDF-1.4\n");
  EXPECT_EQ(IntOf(pdf.properties, pst::messaging::kPrAttachSize), 9);
  EXPECT_EQ(IntOf(pdf.properties, pst::messaging::kPrRenderingPosition), -1);
  EXPECT_FALSE(FindProperty(pdf.properties, pst::messaging::kPrAttachmentHidden)->AsBool());

  EXPECT_EQ(TextOf(m.attachments[1].properties, pst::messaging::kPrAttachLongFilename), "résumé final.docx");
  EXPECT_EQ(BytesAsString(m.attachments[1].data), "abc");
  // A path in a sender-supplied name is cut to its last component.
  EXPECT_EQ(TextOf(m.attachments[2].properties, pst::messaging::kPrAttachLongFilename), "passwd");
  EXPECT_EQ(BytesAsString(m.attachments[3].data), "an inline text after the body");
  EXPECT_FALSE(TextOf(m.attachments[3].properties, pst::messaging::kPrAttachLongFilename));
}

TEST(ContentMapping, RelatedImagesAreHiddenAndReferencedByContentId) {
  const ParsedMessage m = ParseMimeBytes(
      "Content-Type: multipart/mixed; boundary=outer\n\n"
      "--outer\nContent-Type: multipart/alternative; boundary=alt\n\n"
      "--alt\nContent-Type: text/plain\n\nplain\n"
      "--alt\nContent-Type: multipart/related; boundary=rel; type=\"text/html\"\n\n"
      "--rel\nContent-Type: text/html\n\n<img src=\"cid:logo@x\">\n"
      "--rel\nContent-Type: image/png; name=logo.png\nContent-ID: <logo@x>\n"
      "Content-Transfer-Encoding: base64\n\niVBORw0KGgo=\n"
      "--rel--\n"
      "--alt--\n"
      "--outer\nContent-Type: image/gif; name=shown.gif\nContent-Disposition: inline\n\nGIF89a\n"
      "--outer--\n");
  EXPECT_EQ(TextOf(m.properties, pst::messaging::kPrBody), "plain");
  EXPECT_EQ(BinaryOf(m.properties, pst::messaging::kPrHtml), "<img src=\"cid:logo@x\">");
  ASSERT_EQ(m.attachments.size(), 2u);
  const auto& logo = m.attachments[0].properties;
  EXPECT_EQ(TextOf(logo, pst::messaging::kPrAttachContentId), "logo@x");
  EXPECT_TRUE(FindProperty(logo, pst::messaging::kPrAttachmentHidden)->AsBool());
  EXPECT_EQ(IntOf(logo, pst::messaging::kPrAttachFlags), pst::messaging::kAttachMhtmlRef);
  EXPECT_EQ(BytesAsString(m.attachments[0].data), "\x89PNG\r\n\x1A\n");
  // An inline image of a mixed message is an ordinary, visible attachment.
  EXPECT_FALSE(FindProperty(m.attachments[1].properties, pst::messaging::kPrAttachmentHidden)->AsBool());
}

TEST(ContentMapping, AttachedMessagesAreEmbeddedAtAnyDepth) {
  const ParsedMessage m = ParseMimeBytes(
      "Subject: FW: outer\nContent-Type: multipart/mixed; boundary=a\n\n"
      "--a\nContent-Type: text/plain\n\nforwarding\n"
      "--a\nContent-Type: message/rfc822\n\n"
      "Subject: middle\nFrom: m@example.org\nContent-Type: multipart/mixed; boundary=b\n\n"
      "--b\nContent-Type: text/plain\n\nmiddle body\n"
      "--b\nContent-Type: message/rfc822\n\nSubject: inner\nTo: i@example.org\n\ninner body\n"
      "--b--\n"
      "--a--\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  const auto& middle_att = m.attachments[0];
  EXPECT_EQ(IntOf(middle_att.properties, pst::messaging::kPrAttachMethod), pst::messaging::kAttachEmbeddedMsg);
  EXPECT_EQ(TextOf(middle_att.properties, pst::messaging::kPrDisplayName), "middle");
  EXPECT_TRUE(middle_att.data.empty());
  ASSERT_TRUE(middle_att.embedded);
  const ParsedMessage& middle = *middle_att.embedded;
  EXPECT_EQ(TextOf(middle.properties, pst::messaging::kPrBody), "middle body");
  EXPECT_EQ(TextOf(middle.properties, pst::messaging::kPrSenderEmailAddress), "m@example.org");
  ASSERT_EQ(middle.attachments.size(), 1u);
  ASSERT_TRUE(middle.attachments[0].embedded);
  const ParsedMessage& inner = *middle.attachments[0].embedded;
  EXPECT_EQ(TextOf(inner.properties, pst::messaging::kPrSubject), "inner");
  EXPECT_EQ(TextOf(inner.properties, pst::messaging::kPrBody), "inner body");
  ASSERT_EQ(inner.recipients.size(), 1u);
}

TEST(ContentMapping, LargeAttachmentsAreDecodedIntoOneExactBuffer) {
  // 3 MiB of data, base64 in 76-character lines.
  std::string data(3 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7919 >> 3);
  const std::string encoded = testsupport::Base64(data);
  std::string b64;
  for (std::size_t i = 0; i < encoded.size(); i += 76) b64 += encoded.substr(i, 76) + "\n";
  const ParsedMessage m = ParseMimeBytes(
      "Content-Type: multipart/mixed; boundary=q\n\n--q\nContent-Type: text/plain\n\nbig\n"
      "--q\nContent-Type: application/octet-stream; name=big.bin\nContent-Transfer-Encoding: base64\n\n" +
      b64 + "\n--q--\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  const auto& bytes = m.attachments[0].data;
  ASSERT_EQ(bytes.size(), data.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), data.begin(),
                         [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
  // Reserved once from the encoded length: no regrowth that would double the memory.
  EXPECT_LE(bytes.capacity(), data.size() + data.size() / 50);
}

// A multipart nested `levels` deep with a text leaf at the bottom.
std::string NestedMultiparts(int levels) {
  std::string head, tail;
  for (int i = 0; i < levels; ++i) {
    head += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
            std::to_string(i) + "\n";
    tail = "--b" + std::to_string(i) + "--\n" + tail;
  }
  return "Subject: deep\n" + head + "Content-Type: text/plain\n\nbottom\n" + tail;
}

TEST(ContentMapping, MultipartsAndMessagesNestedBeyondTheLimitAreKeptRaw) {
  const ParsedMessage shallow = ParseMimeBytes(NestedMultiparts(kMaxNestingDepth - 1));
  EXPECT_EQ(TextOf(shallow.properties, pst::messaging::kPrBody), "bottom");
  EXPECT_TRUE(shallow.warnings.empty());

  const ParsedMessage deep = ParseMimeBytes(NestedMultiparts(kMaxNestingDepth + 5));
  EXPECT_FALSE(deep.Find(pst::messaging::kPrBody));
  ASSERT_EQ(deep.attachments.size(), 1u);
  EXPECT_NE(BytesAsString(deep.attachments[0].data).find("bottom"), std::string::npos);
  ASSERT_EQ(deep.warnings.size(), 1u);
  EXPECT_NE(deep.warnings[0].find("deeper than 64"), std::string::npos);

  std::string text = "Subject: level 0\n\nbottom\n";
  for (int i = 1; i <= kMaxNestingDepth + 2; ++i) {
    text = "Subject: level " + std::to_string(i) + "\nContent-Type: message/rfc822\n\n" + text;
  }
  const ParsedMessage m = ParseMimeBytes(text);
  const ParsedMessage* at = &m;
  int depth = 0;
  while (at->attachments.size() == 1 && at->attachments[0].embedded) {
    at = at->attachments[0].embedded.get();
    ++depth;
  }
  EXPECT_EQ(depth, kMaxNestingDepth);
  ASSERT_EQ(at->attachments.size(), 1u);
  EXPECT_NE(BytesAsString(at->attachments[0].data).find("bottom"), std::string::npos);
  EXPECT_FALSE(m.warnings.empty());
}

TEST(ContentMapping, BrokenStructuresStillGiveWhatCouldBeRead) {
  // A multipart that never ends, with an unterminated base64 attachment.
  const ParsedMessage open_ended = ParseMimeBytes(
      "Subject: cut\nContent-Type: multipart/mixed; boundary=zz\n\n"
      "--zz\nContent-Type: text/plain\n\nfirst\n"
      "--zz\nContent-Type: application/zip; name=a.zip\nContent-Transfer-Encoding: base64\n\nUEsDBA==");
  EXPECT_EQ(TextOf(open_ended.properties, pst::messaging::kPrSubject), "cut");
  EXPECT_EQ(TextOf(open_ended.properties, pst::messaging::kPrBody), "first");
  ASSERT_EQ(open_ended.attachments.size(), 1u);
  EXPECT_EQ(BytesAsString(open_ended.attachments[0].data), "PK\x03\x04");

  // A multipart without a boundary parameter.
  const ParsedMessage no_boundary =
      ParseMimeBytes("Subject: nb\nContent-Type: multipart/mixed\n\nsome text\n");
  EXPECT_EQ(TextOf(no_boundary.properties, pst::messaging::kPrSubject), "nb");

  // Not a message at all, and nothing at all.
  const std::string binary("\x00\x01\x02\xFF garbage\n\x89PNG", 16);
  const ParsedMessage junk = ParseMimeBytes(binary);
  EXPECT_EQ(TextOf(junk.properties, pst::messaging::kPrMessageClass), "IPM.Note");
  EXPECT_NE(TextOf(junk.properties, pst::messaging::kPrBody)->find("garbage"), std::string::npos);
  const ParsedMessage text = ParseMimeBytes("Shopping list\nmilk, eggs\n");
  EXPECT_EQ(TextOf(text.properties, pst::messaging::kPrBody), "Shopping list\nmilk, eggs\n");
  EXPECT_EQ(text.warnings.size(), 1u);
  // Nor is text that only begins like a header, and none of it is dropped.
  const ParsedMessage note = ParseMimeBytes("Note: milk\neggs\n");
  EXPECT_EQ(TextOf(note.properties, pst::messaging::kPrBody), "Note: milk\neggs\n");
  EXPECT_EQ(note.warnings.size(), 1u);
  // An empty view (no buffer at all) is an empty message read through a real stream: GMime
  // once refused it with critical warnings and parsed nothing (a fuzz finding).
  ::testing::internal::CaptureStderr();
  const ParsedMessage empty = ParseMimeBytes(std::string_view());
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(warnings.find("CRITICAL"), std::string::npos) << warnings;
  EXPECT_EQ(TextOf(empty.properties, pst::messaging::kPrMessageClass), "IPM.Note");
}

}  // namespace
}  // namespace mailvane::mime
