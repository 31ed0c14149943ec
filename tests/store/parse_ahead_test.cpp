// Messages parsed ahead on worker threads come back to the writer exactly as an inline
// parse would give them, whatever the run skips, asks out of the list or cannot read.
#include "store/parse_ahead.h"

#include <gtest/gtest.h>

#include <system_error>

#include "pst/messaging/property_tags.h"
#include "support/files.h"

namespace mailvane::store {
namespace {

std::string SubjectOf(const mime::ParsedMessage& m) {
  const pst::ltp::PropValue* v = m.Find(pst::messaging::kPrSubject);
  return v == nullptr ? "" : v->AsString();
}

TEST(ParseAhead, EveryTakeGetsItsOwnFileWhateverIsSkipped) {
  testsupport::ScratchDir dir("ahead");
  std::vector<std::string> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back(dir.Write("m" + std::to_string(i) + ".eml",
                              "Subject: message " + std::to_string(i) + "\r\n\r\nbody\r\n"));
  }
  const std::string outside = dir.Write("outside.eml", "Subject: outside\r\n\r\nx\r\n");
  files.insert(files.begin() + 20, (dir / "missing.eml").string());  // named, never written
  files.insert(files.begin() + 7, (dir / "m7.meta").string());        // listed, not a message
  source::PathList list;
  for (const std::string& f : files) list.Append(f);
  std::vector<bool> messages(files.size(), true);
  messages[7] = false;

  // What the writer asks for, in order: gaps (steps that failed before the import), a
  // file out of the list, one already passed, and a file that cannot be read.
  const struct {
    std::string file;
    std::string subject;  // "" : the take raises std::system_error
  } kTakes[] = {
      {"m0.eml", "message 0"},  {"m1.eml", "message 1"},   {"m5.eml", "message 5"},
      {"outside.eml", "outside"}, {"m3.eml", "message 3"}, {"m6.eml", "message 6"},
      {"missing.eml", ""},      {"m20.eml", "message 20"}, {"m39.eml", "message 39"},
      {"m38.eml", "message 38"},
  };
  for (unsigned threads : {1u, 3u}) {
    ParseAhead ahead(list, messages, threads);
    for (const auto& t : kTakes) {
      if (t.subject.empty()) {
        EXPECT_THROW(ahead.Take(dir / t.file), std::system_error) << t.file;
      } else {
        EXPECT_EQ(SubjectOf(ahead.Take(dir / t.file)), t.subject) << t.file << " threads " << threads;
      }
    }
  }
  // Dropped half-way, with parses still waiting: the workers stop cleanly.
  { ParseAhead ahead(list, messages, 2); }
}

}  // namespace
}  // namespace mailvane::store
