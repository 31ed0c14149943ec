#include "zimbra/attach_from_data_file.h"

#include <memory>
#include <vector>

#include "mime/attachment_names.h"
#include "source/failure_log.h"
#include "zimbra/data_file_message.h"

namespace mailvane::zimbra {

int AttachFromDataFile(GuardedItem& item, source::ExportFile* data_file) {
  // Zimbra writes a data file only for items with attachments or long descriptions.
  if (data_file == nullptr) return 0;
  ItemContext& ctx = item.context();
  auto step = [&](std::string_view name, const std::function<void()>& body) {
    return source::TryStep(ctx.failures, item.file(), name, body);
  };
  ctx.front_end.Yield();

  const std::string* text = nullptr;
  if (!step("read data file", [&] { text = &data_file->Content(); })) return 0;
  // The first invite's message, from its "Subject: " header on.
  const auto subject = text->find("Subject: ");
  if (subject == std::string::npos) return 0;
  std::unique_ptr<DataFileMessage> parsed;
  if (!step("load message",
            [&] { parsed = std::make_unique<DataFileMessage>(std::string_view(*text).substr(subject)); })) {
    return 0;
  }
  if (ctx.notice) {
    for (const std::string& w : parsed->Warnings()) ctx.notice(item.file(), "its data file: " + w);
  }
  int added = 0;
  for (int i = 0; i < parsed->AttachmentCount(); ++i) {
    ctx.front_end.Yield();
    const std::string number = std::to_string(i + 1);
    std::string name;
    std::vector<std::uint8_t> bytes;
    if (!step("read attachment " + number, [&] {
          name = mime::SafeFileName(parsed->AttachmentFileName(i));
          bytes = parsed->AttachmentBytes(i);
        })) {
      continue;
    }
    if (name.empty()) name = "attachment";
    if (item.Step("add attachment " + number, [&](store::Item& target) {
          target.AddAttachment(std::move(bytes), name);
        })) {
      ++added;
    }
  }
  return added;
}

}  // namespace mailvane::zimbra
