// The PST reader and checker on damaged files: they must report what is wrong, never
// crash. An input that starts with "!BDN" is taken as a whole file; any other input damages
// a small store written by our engine: 4-byte records of a 24-bit offset (wrapped into the
// file) and a byte xor-ed there; a leading 'T' with a 24-bit offset truncates first.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/whole_file.h"
#include "fuzz_support.h"
#include "pst/check/pst_checker.h"
#include "store/mail_store.h"

using namespace mailvane;
namespace fs = std::filesystem;

namespace {

// A store with a folder and two items, written once per process.
const std::string& BaseFile() {
  static const std::string bytes = [] {
    const fs::path path = fuzz::ScratchFolder() / "base.pst";
    fs::remove(path);
    std::unique_ptr<store::Session> session = store::CreatePstSession();
    session->Logon();
    store::Store& st = session->AddPSTStore(path, store::kStoreFormatUnicode, "Fuzz");
    std::unique_ptr<store::Folder> inbox = st.GetDefaultFolder(store::DefaultFolder::kInbox);
    std::unique_ptr<store::Folder> sub = inbox->AddFolder("Sub", store::kFolderTypeMail);
    std::unique_ptr<store::Item> m = sub->AddItem(store::ItemType::kMessage);
    m->SetText("Subject", "hello");
    m->SetText("Body", std::string(3000, 'b'));
    m->Save();
    std::unique_ptr<store::Folder> contacts =
        st.GetDefaultFolder(store::DefaultFolder::kContacts);
    std::unique_ptr<store::Item> c = contacts->AddItem(store::ItemType::kContact);
    c->SetText("FirstName", "Anna");
    c->Save();
    session->Logoff();
    return base::ReadWholeFile(path);
  }();
  return bytes;
}

std::uint32_t Offset24(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string file;
  bool truncated = false;
  if (size >= 4 && data[0] == '!' && data[1] == 'B' && data[2] == 'D' && data[3] == 'N') {
    file.assign(reinterpret_cast<const char*>(data), size);
  } else {
    file = BaseFile();
    std::size_t at = 0;
    if (size >= 4 && data[0] == 'T') {
      file.resize(Offset24(data + 1) % (file.size() + 1));
      truncated = file.size() < BaseFile().size();
      at = 4;
    }
    for (; at + 4 <= size && !file.empty(); at += 4) {
      file[Offset24(data + at) % file.size()] ^= static_cast<char>(data[at + 3]);
    }
  }
  const fs::path path = fuzz::ScratchFolder() / "damaged.pst";
  fuzz::WriteBytes(path, file);
  pst::check::CheckOptions options;
  options.folder_tree = true;
  const pst::check::CheckResult result = pst::check::CheckPstFile(path, options);
  // Whatever a flipped byte did, a file cut short has lost something the checker must see.
  if (truncated && result.clean()) fuzz::Fail("a truncated file was called clean");
  (void)pst::check::FormatFindings(result);
  (void)pst::check::FormatFolderTree(result.tree);
  return 0;
}
