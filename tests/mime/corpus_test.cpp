// Real-world messages from Debian packages (Python's e-mail test data and the MIME-tools
// torture messages): each parses, and what we map agrees with what GMime itself reads.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mime/attachment_names.h"
#include "mime/gmime_support.h"
#include "mime/mime_parser.h"
#include "mime_test_helpers.h"
#include "pst/property_tags.h"

namespace mailvane::mime {
namespace {

namespace fs = std::filesystem;
using testing::IntOf;
using testing::TextOf;

const fs::path kPythonData = "/usr/lib/python3.11/test/test_email/data";
const fs::path kMimeTools = "/usr/share/doc/libmime-explode-perl/examples/testmsgs";

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const fs::path& dir : {kPythonData, kMimeTools}) {
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      const std::string name = e.path().filename().string();
      const bool message = dir == kPythonData ? name.starts_with("msg_") : name.ends_with(".msg") || name.ends_with(".mbx");
      if (message) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// What GMime reads on its own: the subject and, per file name, the size of each named
// part of the outer message as GMime's data wrapper decodes it.
struct GMimeView {
  bool parsed = false;
  std::string subject;
  bool has_subject = false;
  std::multimap<std::string, std::size_t> named_parts;
};

void CollectNamed(GMimeObject* /*parent*/, GMimeObject* part, gpointer data) {
  if (!GMIME_IS_PART(part)) return;
  const char* name = g_mime_part_get_filename(GMIME_PART(part));
  if (!name || SafeFileName(name).empty()) return;
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  GPtr<GMimeStream> sink(g_mime_stream_null_new());
  if (content) g_mime_data_wrapper_write_to_stream(content, sink.get());
  const auto size = static_cast<std::size_t>(GMIME_STREAM_NULL(sink.get())->written);
  static_cast<GMimeView*>(data)->named_parts.emplace(SafeFileName(name), size);
}

GMimeView ReadWithGMime(const fs::path& file) {
  EnsureGMimeInitialized();
  GMimeView view;
  GPtr<GMimeStream> stream(g_mime_stream_file_open(file.c_str(), "rb", nullptr));
  if (!stream) return view;
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), LooseParserOptions()));
  if (!message) return view;
  view.parsed = true;
  if (const char* s = g_mime_message_get_subject(message.get())) {
    view.subject = s;
    view.has_subject = true;
  }
  GMimeObject* body = g_mime_message_get_mime_part(message.get());
  if (body && GMIME_IS_MULTIPART(body)) {
    g_mime_multipart_foreach(GMIME_MULTIPART(body), CollectNamed, &view);
  } else if (body) {
    CollectNamed(nullptr, body, &view);
  }
  return view;
}

TEST(Corpus, EveryMessageParsesAndAgreesWithGMime) {
  const auto files = CorpusFiles();
  if (files.empty()) {
    GTEST_SKIP() << "no corpus: install libpython3.11-testsuite and libmime-explode-perl";
  }
  std::size_t attachments = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    ParsedMessage m;
    ASSERT_NO_THROW(m = ParseMimeFile(file));
    EXPECT_EQ(TextOf(m.properties, pst::kPrMessageClass), "IPM.Note");
    const GMimeView view = ReadWithGMime(file);
    if (!view.parsed) continue;
    if (view.has_subject) {
      EXPECT_EQ(TextOf(m.properties, pst::kPrSubject), view.subject);
    }
    std::multimap<std::string, std::size_t> ours;
    for (const auto& a : m.attachments) {
      if (a.embedded) continue;
      if (auto name = TextOf(a.properties, pst::kPrAttachLongFilename)) {
        ours.emplace(*name, a.data.size());
        EXPECT_EQ(IntOf(a.properties, pst::kPrAttachSize), static_cast<std::int32_t>(a.data.size()));
      }
    }
    // A base64 text whose last group is cut short keeps that group's whole bytes here;
    // GMime drops them. Up to two bytes more than GMime's are ours to keep.
    ASSERT_EQ(ours.size(), view.named_parts.size());
    for (auto a = ours.cbegin(), b = view.named_parts.cbegin(); a != ours.cend(); ++a, ++b) {
      EXPECT_EQ(a->first, b->first);
      EXPECT_GE(a->second, b->second) << a->first;
      EXPECT_LE(a->second, b->second + 2) << a->first;
    }
    attachments += m.attachments.size();
  }
  EXPECT_GT(attachments, 20u);
}

}  // namespace
}  // namespace mailvane::mime
