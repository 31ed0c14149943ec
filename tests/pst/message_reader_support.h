// What the independent readers see of the messages of a PST: every property of every
// message and attachment as python3-pypff lists it (id, type, length and CRC of the bytes,
// so that a 20 MB body does not travel through a pipe), and the files readpst exports.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pst/message_test_support.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/ndb/crc32.h"
#include "support/pst_readers.h"

namespace mailvane::pst::testing {

// One property as "id type length crc" (hex), the way the pypff script prints it.
inline std::string PropertyLine(ltp::PropTag tag, const std::vector<std::uint8_t>& bytes) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04x %04x %zx %08x", ltp::PropIdOf(tag), static_cast<unsigned>(ltp::PropTypeOf(tag)),
                bytes.size(), ndb::Crc32(bytes));
  return buf;
}

struct PypffItem {
  std::set<std::string> props;
  std::vector<std::set<std::string>> attachments;
  std::vector<std::uint64_t> attachment_sizes;
};

inline constexpr const char* kPypffDump = R"PY(
import sys, zlib, pypff
def crc(d):
    return zlib.crc32(d, 0xFFFFFFFF) ^ 0xFFFFFFFF
def entries(item):
    out = []
    if item.number_of_record_sets == 0:
        return out
    for e in item.get_record_set(0).entries:
        d = e.data or b""
        out.append("%04x %04x %x %08x" % (e.entry_type, e.value_type, len(d), crc(d)))
    return out
def walk(folder):
    for m in folder.sub_messages:
        print("M %d" % m.identifier)
        for line in entries(m):
            print("P " + line)
        for i in range(m.number_of_attachments):
            a = m.get_attachment(i)
            print("A %d" % a.size)
            for line in entries(a):
                print("Q " + line)
    for f in folder.sub_folders:
        walk(f)
f = pypff.file()
f.open(sys.argv[1])
walk(f.get_root_folder())
print("END")
)PY";

// Message NID -> what pypff lists; empty when pypff is not installed.
inline std::map<std::uint32_t, PypffItem> ReadItemsWithPypff(const std::filesystem::path& pst, bool& ok) {
  std::map<std::uint32_t, PypffItem> out;
  ok = false;
  if (!testsupport::HavePypff()) return out;
  const auto r = testsupport::RunCommand({"/usr/bin/python3", "-c", kPypffDump, pst.string()});
  std::istringstream in(r.out);
  std::string line;
  PypffItem* item = nullptr;
  while (std::getline(in, line)) {
    if (line == "END") ok = r.exit_code == 0;
    if (line.rfind("M ", 0) == 0) item = &out[static_cast<std::uint32_t>(std::stoul(line.substr(2)))];
    if (item == nullptr) continue;
    if (line.rfind("P ", 0) == 0) item->props.insert(line.substr(2));
    if (line.rfind("A ", 0) == 0) {
      item->attachments.emplace_back();
      item->attachment_sizes.push_back(std::stoull(line.substr(2)));
    }
    if (line.rfind("Q ", 0) == 0 && !item->attachments.empty()) item->attachments.back().insert(line.substr(2));
  }
  EXPECT_TRUE(ok) << r.out.substr(0, 2000) << r.err;
  return out;
}

inline std::set<std::string> ExpectedLines(messaging::NameToIdMap& names, const messaging::PropertyBag& bag) {
  std::set<std::string> out;
  for (const messaging::MessageProperty& p : bag.all()) {
    const ltp::PropTag tag = p.named ? ltp::MakeTag(*names.Find(*p.named), p.value.type()) : p.tag;
    out.insert(PropertyLine(tag, p.value.bytes()));
  }
  return out;
}

// Every property pypff lists for a message or attachment is one we wrote, and the other
// way round; attachment data and embedded objects are compared by the caller.
inline void ExpectPypffSees(messaging::PstStore& store, const std::map<std::uint32_t, PypffItem>& seen, ndb::Nid nid,
                            const messaging::MessageContent& written) {
  const auto it = seen.find(nid);
  ASSERT_NE(it, seen.end()) << "pypff does not list message " << nid;
  messaging::NameToIdMap& names = store.name_to_id_map();
  EXPECT_EQ(it->second.props, ExpectedLines(names, written.props)) << "message " << nid;
  ASSERT_EQ(it->second.attachments.size(), written.attachments.size()) << "message " << nid;
  for (std::size_t i = 0; i < written.attachments.size(); ++i) {
    const messaging::AttachmentContent& a = written.attachments[i];
    std::set<std::string> want = ExpectedLines(names, a.props);
    std::set<std::string> got = it->second.attachments[i];
    std::erase_if(got, [](const std::string& l) { return l.rfind("3701 ", 0) == 0; });  // the data
    EXPECT_EQ(got, want) << "message " << nid << " attachment " << i;
    if (!a.embedded) {
      EXPECT_EQ(it->second.attachment_sizes[i], a.bytes.size()) << "message " << nid << " attachment " << i;
    }
  }
}

// Every file readpst exported, by path relative to out_dir, with its text.
inline std::map<std::string, std::string> ReadpstFiles(const std::filesystem::path& pst,
                                                       const std::filesystem::path& out_dir) {
  std::map<std::string, std::string> files;
  if (!testsupport::HaveProgram("readpst")) return files;
  const auto r = testsupport::ReadWithReadpst(pst, out_dir);
  // readpst exports neither tasks nor sticky notes: it counts them as skipped.
  bool skipped_elsewhere = false;
  for (const auto& s : r.summaries) skipped_elsewhere |= s.skipped > 0 && s.folder != "Tasks" && s.folder != "Notes";
  EXPECT_TRUE(r.run.exit_code == 0 && r.run.err.empty() && !skipped_elsewhere) << r.run.out << r.run.err;
  for (const auto& e : std::filesystem::recursive_directory_iterator(out_dir)) {
    if (e.is_regular_file()) files[std::filesystem::relative(e.path(), out_dir).string()] = testsupport::ReadFile(e.path());
  }
  return files;
}

// A header text as readpst writes it: plain when ASCII, else "=?utf-8?B?...?=".
inline std::string MimeWord(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return text;
  return "=?utf-8?B?" + testsupport::Base64(text) + "?=";
}

}  // namespace mailvane::pst::testing
