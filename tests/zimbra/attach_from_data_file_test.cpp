// The data-file attachment stage: which parts become attachments, under which names,
// with which bytes; and that nothing is written to disk on the way.
#include "zimbra/attach_from_data_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "source/folder_source.h"
#include "zimbra/fake_run.h"
#include "zimbra/item_writers.h"
#include "zimbra/mock_store.h"
#include "zimbra/zimbra_files.h"

namespace mailvane::zimbra {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::DataFile;
using testing::MimeAttachment;

const std::string kPdfBytes("\x00\x01\xfe\xffq2 figures\r\n", 16);

MimeAttachment Pdf() {
  return {"Content-Type: application/pdf; name=q2-figures.pdf\n"
          "Content-Disposition: attachment; filename=q2-figures.pdf\n"
          "Content-Transfer-Encoding: base64",
          "AAH+/3EyIGZpZ3VyZXMNCg=="};
}

MimeAttachment Named(const std::string& name, const std::string& base64) {
  return {"Content-Type: text/plain; name=\"" + name + "\"\n"
          "Content-Disposition: attachment; filename=\"" + name + "\"\n"
          "Content-Transfer-Encoding: base64",
          base64};
}

class AttachTest : public ::testing::Test {
 protected:
  // Writes an appointment whose data file holds data (none when data is empty) and
  // returns what the item received.
  const testing::StoreWorld::Created& Convert(const std::string& data) {
    std::optional<source::FolderFile> data_file;
    if (!data.empty()) data_file.emplace(sandbox.Write("Calendar/1-Lunch.appt", data));
    CreateCalendarItem(ctx, "1-Lunch.appt.meta", "S", 9, "Lunch", "", "", "", "", "",
                       data_file ? &*data_file : nullptr);
    EXPECT_EQ(world.items.size(), 1u);
    return world.items.at(0);
  }

  testing::Sandbox sandbox;
  testing::StoreWorld world;
  testing::FakeFrontEnd front;
  testing::FakeFailureLog log;
  ItemContext ctx{world.session, "S", front, log};
};

TEST_F(AttachTest, InviteWithoutAttachmentsAddsNone) {
  // The named text/calendar part is the invite's own body, not an attachment.
  const auto& item = Convert(DataFile({}));
  EXPECT_THAT(item.ops, ElementsAre("Subject=Lunch", "Location=", "Categories=", "Body=",
                                    "Save", "Save"));
  EXPECT_THAT(log.failures, IsEmpty());
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

TEST_F(AttachTest, OneAttachmentArrivesWithItsNameAndDecodedBytes) {
  const auto& item = Convert(DataFile({Pdf()}));
  EXPECT_THAT(item.ops, ElementsAre("Subject=Lunch", "Location=", "Categories=", "Body=",
                                    "Save", "attach q2-figures.pdf", "Save"));
  ASSERT_EQ(item.attachments.size(), 1u);
  EXPECT_EQ(item.attachments[0].bytes, kPdfBytes);
  EXPECT_THAT(log.failures, IsEmpty());
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

TEST_F(AttachTest, ClashingAndHostileNamesAreKeptApartAndNothingIsWrittenToDisk) {
  // No temporary folder can be used: the parts go from memory into the item.
  setenv("TMPDIR", (sandbox.root() / "no-such-folder").c_str(), 1);
  const auto& item = Convert(DataFile({Named("notes.txt", "Zmlyc3Qgbm90ZXM="),
                                       Named("notes.txt", "c2Vjb25kIG5vdGVz"),
                                       Named("../../evil", "AAH+/3EyIGZpZ3VyZXMNCg==")}));
  ASSERT_EQ(item.attachments.size(), 3u);
  // The item gets the attachments' own names made safe for display, in the message's order.
  EXPECT_EQ(item.attachments[0].name, "notes.txt");
  EXPECT_EQ(item.attachments[1].name, "notes.txt");
  EXPECT_EQ(item.attachments[2].name, "evil");
  EXPECT_EQ(item.attachments[0].bytes, "first notes");
  EXPECT_EQ(item.attachments[1].bytes, "second notes");
  EXPECT_EQ(item.attachments[2].bytes, kPdfBytes);
  EXPECT_THAT(log.failures, IsEmpty());
  // Nothing left in the temporary folder, nothing written beside the export or above it.
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(sandbox.root() / "evil"));
  EXPECT_FALSE(std::filesystem::exists(sandbox.root().parent_path() / "evil"));
}

TEST_F(AttachTest, EncodedNamesAreDecodedAndUnnamedAttachmentsGetADefault) {
  const auto& item = Convert(DataFile(
      {{"Content-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename*=utf-8''caf%C3%A9%20menu.txt",
        "menu"},
       {"Content-Type: application/pdf; name=\"=?UTF-8?Q?r=C3=A9sum=C3=A9.pdf?=\"", "cv"},
       {"Content-Type: application/octet-stream\nContent-Disposition: attachment", "blob"},
       // Named but inline text: part of the body, as a mail program shows it.
       {"Content-Type: text/plain; name=readme.txt\nContent-Disposition: inline", "hi"}}));
  ASSERT_EQ(item.attachments.size(), 3u);
  EXPECT_EQ(item.attachments[0].name, "café menu.txt");
  EXPECT_EQ(item.attachments[1].name, "résumé.pdf");
  EXPECT_EQ(item.attachments[2].name, "attachment");
  EXPECT_EQ(item.attachments[2].bytes, "blob");
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

TEST_F(AttachTest, AnAttachedMessageIsOneAttachment) {
  const auto& item = Convert(DataFile(
      {{"Content-Type: message/rfc822\nContent-Disposition: attachment; filename=fwd.eml",
        "Subject: inner\r\nContent-Type: multipart/mixed; boundary=in\r\n\r\n--in\r\n"
        "Content-Type: image/png; name=inner.png\r\n\r\npng\r\n--in--"}}));
  ASSERT_EQ(item.attachments.size(), 1u);
  EXPECT_EQ(item.attachments[0].name, "fwd.eml");
  EXPECT_THAT(item.attachments[0].bytes, ::testing::HasSubstr("Subject: inner"));
}

TEST_F(AttachTest, TextBeforeTheFirstSubjectIsDropped) {
  // Without the cut, the first "Subject: " header would not start the message.
  const auto& item = Convert("junk line\r\nmore junk: here\r\n\r\n" +
                             DataFile({Pdf()}).substr(0));
  EXPECT_EQ(item.attachments.size(), 1u);
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

TEST_F(AttachTest, NoSubjectHeaderOrMissingFileMeansNoAttachmentsAndNoTemporaryFiles) {
  const auto& lower = Convert(DataFile({Pdf()}, "subject: Lunch with Anna"));
  EXPECT_THAT(lower.attachments, IsEmpty());
  EXPECT_THAT(lower.ops, ElementsAre("Subject=Lunch", "Location=", "Categories=", "Body=",
                                     "Save", "Save"));
  world.items.clear();
  const auto& missing = Convert("");
  EXPECT_THAT(missing.attachments, IsEmpty());
  EXPECT_THAT(missing.ops.back(), "Save");
  EXPECT_THAT(log.failures, IsEmpty());
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

TEST_F(AttachTest, AFailedAddIsRecordedAndTheOthersAreStillAdded) {
  world.failing = {"attach notes.txt"};
  const auto& item = Convert(DataFile({Named("notes.txt", "Zmlyc3Qgbm90ZXM="), Pdf()}));
  EXPECT_EQ(item.attachments.size(), 1u);
  EXPECT_THAT(log.steps(), ElementsAre("add attachment 1"));
  EXPECT_EQ(log.failures[0].file, "1-Lunch.appt.meta");
  EXPECT_THAT(item.ops.back(), "Save");
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

}  // namespace
}  // namespace mailvane::zimbra
