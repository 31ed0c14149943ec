#include "zimbra/attach_from_data_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "source/failure_log.h"
#include "source/path_names.h"
#include "source/temp_files.h"
#include "zimbra/attachment_staging.h"
#include "zimbra/mime_message_file.h"

namespace mailvane::zimbra {
namespace {

// Runs a clean-up when the scope ends, however it ends.
template <typename Fn>
class AtExit {
 public:
  explicit AtExit(Fn fn) : fn_(std::move(fn)) {}
  ~AtExit() { fn_(); }
  AtExit(const AtExit&) = delete;
  AtExit& operator=(const AtExit&) = delete;

 private:
  Fn fn_;
};

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  std::string text;
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  if (size > 0) text.resize(static_cast<std::size_t>(size));
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (!in) throw std::runtime_error("cannot read " + path);
  return text;
}

void WriteWholeFile(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int AttachFromDataFile(GuardedItem& item, const std::string& data_file) {
  ItemContext& ctx = item.context();
  const std::string& record = item.file();
  auto step = [&](std::string_view name, const std::function<void()>& body) {
    return source::TryStep(ctx.failures, record, name, body);
  };

  // Zimbra writes a data file only for items with attachments or long descriptions.
  if (!source::FileExists(data_file)) return 0;
  ctx.front_end.Yield();

  std::string text;
  if (!step("read data file", [&] { text = ReadWholeFile(data_file); })) return 0;

  std::string message_file;
  if (!step("make message file", [&] {
        std::string why;
        message_file = source::MakeTempFileName("ZIM", &why);
        if (message_file.empty()) throw std::runtime_error("no temporary file: " + why);
      })) {
    return 0;
  }
  AtExit delete_message_file([&] {
    step("delete message file", [&] {
      if (std::remove(message_file.c_str()) != 0 && errno != ENOENT) {
        throw std::system_error(errno, std::generic_category(), "cannot delete " + message_file);
      }
    });
  });

  // The first invite's message, from its "Subject: " header on.
  const auto subject = text.find("Subject: ");
  const std::string_view message =
      subject == std::string::npos ? std::string_view() : std::string_view(text).substr(subject);
  ctx.front_end.Yield();
  if (!step("write message file", [&] { WriteWholeFile(message_file, message); })) return 0;
  ctx.front_end.Yield();
  if (message.empty()) return 0;

  std::unique_ptr<MimeMessageFile> parsed;
  if (!step("load message", [&] { parsed = std::make_unique<MimeMessageFile>(message_file); })) {
    return 0;
  }
  const int count = parsed->AttachmentCount();
  if (count < 1) return 0;

  std::optional<StagingFolder> staging;
  if (!step("make staging folder", [&] {
        std::string why;
        const std::string temp = source::TempFolderPath(&why);
        if (temp.empty()) throw std::runtime_error("no temporary folder: " + why);
        staging.emplace(temp);
      })) {
    return 0;
  }
  AtExit remove_staging([&] { step("remove staging folder", [&] { staging->Remove(); }); });

  struct Staged {
    std::string path;  // "" when the attachment could not be saved
    std::string name;  // the attachment's own name, or the staged one when it has none
  };
  std::vector<Staged> staged(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    ctx.front_end.Yield();
    Staged& s = staged[static_cast<std::size_t>(i)];
    step("save attachment " + std::to_string(i + 1), [&] {
      s.name = parsed->AttachmentFileName(i);
      const std::string path = staging->NewFilePath(s.name);
      if (s.name.empty()) s.name = source::FileNameOf(path);
      parsed->SaveAttachment(i, path);
      s.path = path;
    });
  }
  parsed.reset();

  int added = 0;
  for (std::size_t i = 0; i < staged.size(); ++i) {
    if (staged[i].path.empty()) continue;
    if (item.Step("add attachment " + std::to_string(i + 1), [&](store::Item& target) {
          target.AddAttachment(staged[i].path, staged[i].name);
        })) {
      ++added;
    }
  }
  return added;
}

}  // namespace mailvane::zimbra
