// What the engine's tests share: the checkers' verdicts, messages to save, our reader's and
// python3-pypff's view of them (each property as "id type length crc", so a 20 MB body
// never travels through a pipe), and the folders every independent reader lists.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/file_time.h"
#include "pst/check/ndb_check.h"
#include "pst/check/pst_checker.h"
#include "pst/messaging/message.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/pst_store.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/file_io.h"
#include "pst/ndb/layout.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::pst::testing {

using testsupport::Describe;
using testsupport::Pattern;
using testsupport::ReferenceDir;
using testsupport::ScratchDir;

// The node database of a file we wrote and closed: no error and no note.
inline void ExpectNdbClean(const std::filesystem::path& path) {
  const auto findings = check::CheckNodeDatabase(path);
  EXPECT_TRUE(findings.empty()) << path << "\n" << Describe(findings);
}

// Our own stores are held to more than Outlook's: no error and no finding about items.
inline ::testing::AssertionResult Clean(const std::filesystem::path& pst) {
  const check::CheckResult r = check::CheckPstFile(pst);
  bool ok = r.clean();
  for (const check::Finding& f : r.findings) ok = ok && f.area != "items";
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << check::FormatFindings(r);
}

// --- file faults ---

enum class FaultOn { kWrite, kFlush, kSync };

// Counts the writes and flushes of a file and fails the chosen one.
struct FaultPlan {
  FaultOn on = FaultOn::kWrite;
  int fail_at = 0;  // 1-based; 0 never
  int error = ENOSPC;
  int writes = 0;
  int flushes = 0;
  int syncs = 0;  // data syncs, on a thread of their own
  int injected = 0;
  // The header bytes of the last commit whose header write went through.
  std::optional<std::vector<std::uint8_t>> committed_header;
};

class FaultyFile : public ndb::FileIo {
 public:
  FaultyFile(std::unique_ptr<ndb::FileIo> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}
  void ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override { inner_->ReadAt(offset, data); }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (++plan_.writes == plan_.fail_at && plan_.on == FaultOn::kWrite) Fail("write");
    inner_->WriteAt(offset, data);
    if (offset == 0 && data.size() >= ndb::kHeaderSize) {
      plan_.committed_header.emplace(data.begin(), data.begin() + ndb::kHeaderSize);
    }
  }
  void Flush() override {
    if (++plan_.flushes == plan_.fail_at && plan_.on == FaultOn::kFlush) Fail("flush");
    inner_->Flush();
  }
  void SyncData() override {
    if (++plan_.syncs == plan_.fail_at && plan_.on == FaultOn::kSync) Fail("sync");
    inner_->SyncData();
  }
  std::uint64_t Size() override { return inner_->Size(); }
  void Truncate(std::uint64_t size) override { inner_->Truncate(size); }

 private:
  void Fail(const char* what) {
    ++plan_.injected;
    throw std::system_error(plan_.error, std::generic_category(),
                            std::string("injected fault on ") + what + " " + std::to_string(plan_.fail_at));
  }
  std::unique_ptr<ndb::FileIo> inner_;
  FaultPlan& plan_;
};

// Every file the engine opens while it lives goes through a FaultyFile of plan.
class FaultSeam {
 public:
  explicit FaultSeam(FaultPlan& plan) {
    ndb::SetFileIoWrapper([&plan](std::unique_ptr<ndb::FileIo> file) {
      return std::make_unique<FaultyFile>(std::move(file), plan);
    });
  }
  ~FaultSeam() { ndb::SetFileIoWrapper({}); }
};

// --- messages ---

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
  a.props.Set(messaging::kPrDisplayName, ltp::PropValue::String(name));
  a.props.Set(messaging::kPrAttachMimeTag, ltp::PropValue::String(mime));
  a.bytes = std::move(bytes);
  return a;
}

inline void SetMail(messaging::MessageContent& m, const std::string& subject, const std::string& body) {
  m.props.Set(messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note"));
  m.props.Set(messaging::kPrSubject, ltp::PropValue::String(subject));
  m.props.Set(messaging::kPrBody, ltp::PropValue::String(body));
  m.props.Set(messaging::kPrSenderName, ltp::PropValue::String("Ann Sender"));
  m.props.Set(messaging::kPrSenderEmailAddress, ltp::PropValue::String("ann@example.org"));
  m.props.Set(messaging::kPrClientSubmitTime, ltp::PropValue::Time(base::FileTimeFromUnix(1700000000)));
  m.props.Set(messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagRead));
}

// One property as "id type length crc" (hex), named ones by the id the store gave them.
inline std::set<std::string> Lines(messaging::PstStore& store, const messaging::PropertyBag& bag) {
  std::set<std::string> out;
  for (const messaging::MessageProperty& p : bag.all()) {
    const ltp::PropTag tag = p.named ? ltp::MakeTag(*store.name_to_id_map().Find(*p.named), p.value.type()) : p.tag;
    char line[64];
    std::snprintf(line, sizeof line, "%04x %04x %zx %08x", ltp::PropIdOf(tag),
                  static_cast<unsigned>(ltp::PropTypeOf(tag)), p.value.bytes().size(), ndb::Crc32(p.value.bytes()));
    out.insert(line);
  }
  return out;
}

// What our reader gives back is what was saved, property order aside.
inline void ExpectSameContent(messaging::PstStore& store, const messaging::MessageContent& want,
                              const messaging::MessageContent& got, const std::string& where = "message") {
  EXPECT_EQ(Lines(store, want.props), Lines(store, got.props)) << where;
  ASSERT_EQ(want.recipients.size(), got.recipients.size()) << where;
  for (std::size_t i = 0; i < want.recipients.size(); ++i) {
    EXPECT_EQ(Lines(store, want.recipients[i]), Lines(store, got.recipients[i])) << where << " recipient " << i;
  }
  ASSERT_EQ(want.attachments.size(), got.attachments.size()) << where;
  for (std::size_t i = 0; i < want.attachments.size(); ++i) {
    const messaging::AttachmentContent& a = want.attachments[i];
    const messaging::AttachmentContent& b = got.attachments[i];
    const std::string at = where + " attachment " + std::to_string(i);
    EXPECT_EQ(Lines(store, a.props), Lines(store, b.props)) << at;
    EXPECT_TRUE(a.bytes == b.bytes) << at << ": bytes differ";
    ASSERT_EQ(a.embedded != nullptr, b.embedded != nullptr) << at;
    if (a.embedded) ExpectSameContent(store, *a.embedded, *b.embedded, at + " embedded");
  }
}

// Our reader and pypff give back every message as saved (pypff every property and each
// attachment's properties and size; the data and embedded messages are our reader's to
// compare); the store checks clean and pffexport exports it without a problem.
inline void ExpectEveryReaderAgrees(const std::filesystem::path& pst,
                                    const std::vector<std::pair<ndb::Nid, messaging::MessageContent>>& saved,
                                    const std::filesystem::path& work) {
  ASSERT_TRUE(Clean(pst));
  auto store = messaging::PstStore::Open(pst, false);
  for (const auto& [nid, content] : saved) ExpectSameContent(*store, content, messaging::ReadMessage(*store, nid));
  if (testsupport::HavePypff()) {
    struct Seen {
      std::set<std::string> props;
      std::vector<std::set<std::string>> attachments;
      std::vector<std::uint64_t> sizes;
    };
    std::map<ndb::Nid, Seen> seen;  // by message NID
    const auto r = testsupport::RunPypff("crc", pst);
    EXPECT_TRUE(r.exit_code == 0 && r.out.find("\ndone\n") != std::string::npos) << r.out.substr(0, 2000) << r.err;
    std::istringstream in(r.out);
    Seen* item = nullptr;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("M ", 0) == 0) item = &seen[static_cast<ndb::Nid>(std::stoul(line.substr(2)))];
      if (item == nullptr || line.size() < 2) continue;
      if (line[0] == 'P') item->props.insert(line.substr(2));
      if (line[0] == 'A') {
        item->attachments.emplace_back();
        item->sizes.push_back(std::stoull(line.substr(2)));
      }
      if (line[0] == 'Q' && !item->attachments.empty()) item->attachments.back().insert(line.substr(2));
    }
    for (const auto& [nid, written] : saved) {
      const auto it = seen.find(nid);
      ASSERT_NE(it, seen.end()) << "pypff does not list message " << nid;
      EXPECT_EQ(it->second.props, Lines(*store, written.props)) << "message " << nid;
      ASSERT_EQ(it->second.attachments.size(), written.attachments.size()) << "message " << nid;
      for (std::size_t i = 0; i < written.attachments.size(); ++i) {
        const messaging::AttachmentContent& a = written.attachments[i];
        std::set<std::string> got = it->second.attachments[i];
        std::erase_if(got, [](const std::string& l) { return l.rfind("3701 ", 0) == 0; });  // the data
        EXPECT_EQ(got, Lines(*store, a.props)) << "message " << nid << " attachment " << i;
        if (!a.embedded) {
          EXPECT_EQ(it->second.sizes[i], a.bytes.size()) << "message " << nid << " attachment " << i;
        }
      }
    }
  }
  if (testsupport::HaveProgram("pffexport")) {
    std::filesystem::create_directories(work / "pffexport");
    const auto r = testsupport::ReadWithPffexport(pst, work / "pffexport");
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
  }
}

// Everything readpst exported, as one text; empty when readpst is not installed.
inline std::string ReadpstText(const std::filesystem::path& pst, const std::filesystem::path& out_dir) {
  std::string all;
  if (!testsupport::HaveProgram("readpst")) return all;
  const auto r = testsupport::ReadWithReadpst(pst, out_dir);
  // readpst exports neither tasks nor sticky notes: it counts them as skipped.
  bool skipped_elsewhere = false;
  for (const auto& s : r.summaries) skipped_elsewhere |= s.skipped > 0 && s.folder != "Tasks" && s.folder != "Notes";
  EXPECT_TRUE(r.run.exit_code == 0 && r.run.err.empty() && !skipped_elsewhere) << r.run.out << r.run.err;
  for (const auto& e : std::filesystem::recursive_directory_iterator(out_dir)) {
    if (e.is_regular_file()) all += "=== " + e.path().filename().string() + "\n" + testsupport::ReadFile(e.path());
  }
  return all;
}

// --- the folders every independent reader lists ---

// Folder path ("\"-separated below the top of the folder tree) -> container class.
using ExpectedFolders = std::map<std::string, std::string>;

// libpff 20180714 decodes UTF-16 surrogate pairs into the wrong code point (readpst and our
// reader get them right), so names pypff lists are compared with those characters masked.
inline std::string MaskAstral(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool astral = (static_cast<unsigned char>(s[i]) & 0xF8) == 0xF0 && i + 3 < s.size();
    out += astral ? '?' : s[i];
    if (astral) i += 3;
  }
  return out;
}

// pypff and readpst each list exactly `expected` below "Top of Personal Folders", with no
// error and no skipped item; pffexport exports it all. `work` is a scratch folder for the exports.
inline void ExpectReadersSee(const std::filesystem::path& pst, const ExpectedFolders& expected,
                             const std::filesystem::path& work) {
  using namespace mailvane::testsupport;
  const std::string top = "Top of Personal Folders";
  std::vector<std::string> want_names;
  ExpectedFolders want_masked;
  for (const auto& [p, cls] : expected) {
    want_names.push_back(p.substr(p.rfind('\\') + 1));
    want_masked[MaskAstral(p)] = cls;
  }
  std::sort(want_names.begin(), want_names.end());
  if (HavePypff()) {
    const PypffResult r = ReadWithPypff(pst);
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
    ExpectedFolders seen;
    for (const auto& f : r.folders) {
      if (f.path.size() < 2 || f.path[0] != top) continue;
      std::string p;
      for (std::size_t i = 1; i < f.path.size(); ++i) p += (i > 1 ? "\\" : "") + f.path[i];
      seen[MaskAstral(p)] = f.container_class.value_or("");
    }
    EXPECT_EQ(seen, want_masked) << "pypff";
  }
  if (HaveProgram("pffexport")) {
    const PffexportResult r = ReadWithPffexport(pst, work);
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
  }
  if (HaveProgram("readpst")) {
    const ReadpstResult r = ReadWithReadpst(pst, work / "readpst");
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
    std::vector<std::string> got = r.processed_folders;  // each folder below the top, by name
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want_names) << "readpst";
  }
}

}  // namespace mailvane::pst::testing
