// Real-world messages nobody on the team wrote (from Debian's packages, read where they
// are installed), imported into one store and read back by independent readers: every
// message arrives with the subject, sender, recipients, plain body and attachments that
// the MIME layer parsed.
//   pypff: subject, From and Sender, the To/Cc/Bcc display lines, body, attachments.
//     Its 20180714 binding has no recipient table, so the rows (name, address, type)
//     come from pffexport, the same library's exporter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mime/charset_text.h"
#include "mime/mime_parser.h"
#include "pst/check/pst_checker.h"
#include "pst/pst_test_support.h"
#include "pst/messaging/property_tags.h"
#include "store/pst_session.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::store {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  for (const char* dir : {"/usr/lib/python3.11/test/test_email/data",
                          "/usr/share/doc/libmime-explode-perl/examples/testmsgs"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      const std::string ext = e.path().extension().string();
      if (e.is_regular_file() && (ext == ".txt" || ext == ".msg" || ext == ".eml")) {
        files.push_back(e.path());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// What one reader shows of a message, each aspect as one comparable text.
struct View {
  std::string subject, from, sender, recipients, display, body, attachments;
};

// Line ends and trailing blanks are the readers' own: compare without them.
std::string NormalBody(std::string_view text) {
  std::string out;
  std::string line;
  auto flush = [&] {
    line.erase(line.find_last_not_of(" \t") + 1);
    out += line;
    out += '\n';
    line.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      flush();
    } else {
      line += text[i];
    }
  }
  flush();
  out.erase(out.find_last_not_of('\n') + 1);
  return out;
}

std::string Mailbox(const std::string& name, const std::string& address) {
  return name.empty() && address.empty() ? "" : name + " <" + address + ">";
}

const char* const kRecipientTypes[] = {"?", "To", "CC", "BCC"};  // as pffexport names them

std::string RecipientLine(int type, const std::string& mailbox) {
  return std::string(kRecipientTypes[type >= 1 && type <= 3 ? type : 0]) + " " + mailbox + "\n";
}

std::string Text(const mime::PropertyList& list, pst::ltp::PropTag tag) {
  const pst::ltp::PropValue* v = mime::FindProperty(list, tag);
  return v ? v->AsString() : std::string();
}

View Expected(const mime::ParsedMessage& m) {
  View v;
  const auto& p = m.properties;
  v.subject = Text(p, pst::messaging::kPrSubject);
  v.from = Mailbox(Text(p, pst::messaging::kPrSentRepresentingName), Text(p, pst::messaging::kPrSentRepresentingSmtpAddress));
  v.sender = Mailbox(Text(p, pst::messaging::kPrSenderName), Text(p, pst::messaging::kPrSenderSmtpAddress));
  for (const auto& r : m.recipients) {
    const pst::ltp::PropValue* type = mime::FindProperty(r, pst::messaging::kPrRecipientType);
    v.recipients += RecipientLine(type ? type->AsInt32() : 0,
                                  Mailbox(Text(r, pst::messaging::kPrDisplayName), Text(r, pst::messaging::kPrSmtpAddress)));
  }
  v.display = "To: " + Text(p, pst::messaging::kPrDisplayTo) + "\nCc: " + Text(p, pst::messaging::kPrDisplayCc) +
              "\nBcc: " + Text(p, pst::messaging::kPrDisplayBcc);
  v.body = NormalBody(Text(p, pst::messaging::kPrBody));
  for (const auto& a : m.attachments) {
    v.attachments += a.embedded ? Text(a.properties, pst::messaging::kPrDisplayName) + ":-1\n"
                                : Text(a.properties, pst::messaging::kPrAttachLongFilename) + ":" +
                                      std::to_string(a.data.size()) + "\n";
  }
  return v;
}

using testsupport::FromHex;

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t cut; (cut = s.find(sep, start)) != std::string::npos; start = cut + 1) {
    out.push_back(s.substr(start, cut - start));
  }
  out.push_back(s.substr(start));
  return out;
}

// The FIELDS lines of pypff_read.py fields, in folder order.
std::vector<View> ReadWithPypff(const fs::path& pst) {
  const auto run = testsupport::RunPypff("fields", pst);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::vector<View> views;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const auto c = Split(line, '\t');
    if (c.size() != 11 || c[0] != "FIELDS") continue;
    View v;
    v.subject = FromHex(c[1]);
    v.from = Mailbox(FromHex(c[2]), FromHex(c[3]));
    v.sender = Mailbox(FromHex(c[4]), FromHex(c[5]));
    v.display = "To: " + FromHex(c[6]) + "\nCc: " + FromHex(c[7]) + "\nBcc: " + FromHex(c[8]);
    v.body = NormalBody(FromHex(c[9]));
    if (c[10] != "-") {
      for (const auto& a : Split(c[10], ',')) {
        const auto colon = a.find(':');
        v.attachments += FromHex(a.substr(0, colon)) + a.substr(colon) + "\n";
      }
    }
    views.push_back(std::move(v));
  }
  return views;
}

// pffexport's Recipients.txt of each exported message of the folder, as recipient lines.
std::vector<std::string> RecipientsFromPffexport(const fs::path& pst, const fs::path& work) {
  const auto run = testsupport::RunCommand(
      {"pffexport", "-q", "-f", "all", "-t", (work / "export").string(), pst.string()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "") << "pffexport could not read every value";
  fs::path inbox;
  for (const auto& e : fs::recursive_directory_iterator(work / "export.export")) {
    if (e.is_directory() && e.path().filename() == "Inbox") inbox = e.path();
  }
  std::vector<std::string> out;
  for (int n = 1;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "Message%05d", n);
    if (!fs::is_directory(inbox / name)) break;
    std::ifstream in(inbox / name / "Recipients.txt");
    std::string lines, display, address;
    for (std::string line; std::getline(in, line);) {
      const auto tab = line.find_last_of('\t');
      const std::string value = tab == std::string::npos ? "" : line.substr(tab + 1);
      if (line.starts_with("Display name:")) display = value;
      if (line.starts_with("Email address:")) address = value;
      if (line.starts_with("Recipient type:")) {
        const auto* t = std::find(std::begin(kRecipientTypes), std::end(kRecipientTypes), value);
        lines += RecipientLine(static_cast<int>(t - std::begin(kRecipientTypes)), Mailbox(display, address));
      }
    }
    out.push_back(lines);
  }
  return out;
}

TEST(ImportCorpus, EveryRealMessageReadsBackAsParsed) {
  auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "libpython3.11-testsuite / libmime-explode-perl not installed";
  const testsupport::ScratchDir scratch("corpus");
  const fs::path& dir = scratch.path();
  const fs::path pst = dir / "corpus.pst";
  // What the corpus lacks: Bcc, a group, and characters outside the BMP everywhere.
  files.push_back(dir / "own.eml");
  std::ofstream(files.back()) << "From: =?UTF-8?Q?Ann_=F0=9F=98=80?= <ann@example.org>\n"
                                 "To: Team: bob@example.com, \"Doe, Jane\" <jane@example.com>;\n"
                                 "Cc: carl@example.com\nBcc: Hid \xF0\x9F\x99\x88 <hidden@example.com>\n"
                                 "Subject: Rocket \xF0\x9F\x9A\x80 launch\nMIME-Version: 1.0\n"
                                 "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
                                 "Content-Type: text/plain; charset=utf-8\n\nAt 10 \xF0\x9F\x9A\x80\n--b\n"
                                 "Content-Type: application/octet-stream; name*=utf-8''plan%F0%9F%9A%80.bin\n"
                                 "Content-Transfer-Encoding: base64\n\nAAECAw==\n--b--\n";

  std::vector<mime::ParsedMessage> parsed;
  {
    auto session = CreatePstSession();
    session->Logon();
    Store& store = session->AddPSTStore(pst, kStoreFormatUnicode, "Corpus");
    auto inbox = store.GetDefaultFolder(DefaultFolder::kInbox);
    for (const fs::path& file : files) {
      auto item = inbox->AddItem(ItemType::kMessage);
      ASSERT_NO_THROW(item->Import(file, kImportRfc822)) << file;
      item->Save();
      parsed.push_back(mime::ParseMimeFile(file));
    }
    session->Logoff();
  }
  const auto check = pst::check::CheckPstFile(pst);
  EXPECT_TRUE(check.clean()) << pst::check::FormatFindings(check);

  // libpff (pypff, pffexport) decodes surrogate pairs wrongly: characters outside the
  // BMP are masked when it is the reader.
  using pst::testing::MaskAstral;
  if (testsupport::HavePypff()) {
    auto got = ReadWithPypff(pst);
    ASSERT_EQ(got.size(), parsed.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(files[i].string() + " (pypff)");
      View want = Expected(parsed[i]);
      for (View* v : {&got[i], &want}) {
        for (std::string* f : {&v->subject, &v->from, &v->sender, &v->display, &v->body, &v->attachments}) {
          *f = MaskAstral(*f);
        }
      }
      EXPECT_EQ(got[i].subject, want.subject);
      EXPECT_EQ(got[i].from, want.from);
      EXPECT_EQ(got[i].sender, want.sender);
      EXPECT_EQ(got[i].display, want.display);
      EXPECT_EQ(got[i].body, want.body);
      EXPECT_EQ(got[i].attachments, want.attachments);
    }
  }
  if (testsupport::HaveProgram("pffexport")) {
    const auto got = RecipientsFromPffexport(pst, dir);
    ASSERT_EQ(got.size(), parsed.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(MaskAstral(got[i]), MaskAstral(Expected(parsed[i]).recipients)) << files[i] << " (pffexport)";
    }
  }
}

}  // namespace
}  // namespace mailvane::store
