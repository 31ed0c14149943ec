// Items written through the store interface, read back by our checker and by pypff. (The
// contacts' vCards and the appointments' iCalendar as readpst writes them are read in
// tests/cli/sample_items_test.cpp, from the program's own items.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/file_time.h"
#include "pst/check/pst_checker.h"
#include "pst/messaging/property_tags.h"
#include "store/pst_session.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::store {
namespace {

namespace fs = std::filesystem;
using testsupport::RunCommand;

TEST(PstItemsTest, EveryKindReadsBackInTheIndependentReaders) {
  const testsupport::ScratchDir dir("items");
  const fs::path pst = dir.path() / "items.pst";
  {

    std::ofstream(dir.path() / "mail.eml")
        << "From: Ann Example <ann@example.org>\r\nTo: Bob <bob@example.org>\r\n"
           "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= and a file\r\nDate: Fri, 12 Apr 2013 14:00:00 "
           "+0200\r\nMessage-ID: <1@example.org>\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n\r\nHello Bob\r\n--b\r\n"
           "Content-Type: application/octet-stream; name=data.bin\r\n"
           "Content-Disposition: attachment; filename=data.bin\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQF\r\n--b--\r\n";
    auto session = CreatePstSession();
    session->Logon();
    Store& store = session->AddPSTStore(pst, kStoreFormatUnicode, "Items");
    const std::string id = store.EntryID();

    auto contact = session->GetStoreFromID(id).GetDefaultFolder(DefaultFolder::kContacts)
                       ->AddItem(ItemType::kContact);
    contact->SetText("FirstName", "Jane");
    contact->SetText("LastName", "Doe");
    contact->SetText("FullName", "Jane Doe");
    contact->SetText("Email1Address", "jane@example.org");
    contact->SetText("BusinessTelephoneNumber", "+49 30 1234");
    contact->SetText("HomeAddressCity", "Köln");
    contact->SetText("CompanyName", "Example GmbH");
    contact->SetText("Body", "met at the fair");
    contact->SetDate("Birthday", {1980, 5, 17});
    contact->Save();

    auto appt = store.GetDefaultFolder(DefaultFolder::kCalendar)->AddItem(ItemType::kAppointment);
    appt->SetText("Subject", "Re: Budget");
    appt->SetUtcTime("Start", base::FileTimeFromUnix(1365768000));  // 2013-04-12 12:00 UTC
    appt->SetUtcTime("End", base::FileTimeFromUnix(1365771600));
    appt->SetText("Location", "Room 4");
    appt->SetText("Body", "quarterly numbers");
    appt->Save();
    const std::string plan = "first line\nsecond line\n";
    appt->AddAttachment(std::vector<std::uint8_t>(plan.begin(), plan.end()), "plan.txt");
    appt->Save();  // the second save replaces the first

    auto task = store.GetDefaultFolder(DefaultFolder::kTasks)->AddItem(ItemType::kTask);
    task->SetText("Subject", "Send invoice");
    task->SetDate("DueDate", {2013, 4, 20});
    task->Save();

    auto note = store.GetDefaultFolder(DefaultFolder::kNotes)->AddItem(ItemType::kNote);
    note->SetText("Body", "Call at 10:30\nabout the invoice");
    note->Save();

    auto plain = store.GetDefaultFolder(DefaultFolder::kInbox)->AddItem(ItemType::kMessage);
    plain->Import(dir.path() / "mail.eml", kImportRfc822);
    EXPECT_TRUE(plain->HasAttachments());
    plain->SetOneProp(pst::messaging::kPrMessageFlags, pst::ltp::PropValue::Int32(17), true);
    session->Logoff();
  }

  const auto check = pst::check::CheckPstFile(pst);
  EXPECT_TRUE(check.clean()) << pst::check::FormatFindings(check);

  if (!testsupport::HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  const fs::path script = testsupport::SourceDir() / "tests" / "store" / "pypff_items.py";
  const auto listed = RunCommand({"/usr/bin/python3", script.string(), pst.string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  const std::string& out = listed.out;
  EXPECT_NE(out.find("Contacts\tIPM.Contact\tJane Doe\t\tmet at the fair"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Calendar\tIPM.Appointment\tRe: Budget\tplan.txt:23\tquarterly numbers"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Tasks\tIPM.Task\tSend invoice"), std::string::npos) << out;
  EXPECT_NE(out.find("Notes\tIPM.StickyNote\tCall at 10:30\t\tCall at 10:30\\nabout"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Inbox\tIPM.Note\tGrüße and a file\tdata.bin:6\tHello Bob"),
            std::string::npos) << out;
  EXPECT_NE(out.find("END"), std::string::npos);
}

}  // namespace
}  // namespace mailvane::store
