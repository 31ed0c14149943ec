// A whole conversion of a small export made from the input: the input is cut into files
// at "@@@@\n"; each file's first character says what it becomes (e an Inbox message, m a
// message in a nested folder, c a contact, a an appointment, t a task, n a notebook page;
// for a and t the text after "%%%%" is the item's MIME data file). The PST written must
// pass our checker, whatever the files held.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "pst/check/pst_checker.h"
#include "run/conversion_run.h"
#include "store/mail_store.h"
#include "support/fake_front_end.h"

using namespace mailvane;
namespace fs = std::filesystem;

namespace {

std::tm FixedClock() {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 2;
  t.tm_mday = 1;
  t.tm_hour = 12;
  return t;
}

void WriteExportFile(const fs::path& root, std::size_t n, std::string_view part) {
  if (part.empty()) return;
  const char kind = part[0];
  std::string_view body = part.substr(1);
  std::string_view data;
  const std::size_t cut = body.find("%%%%");
  if (cut != std::string_view::npos) {
    data = body.substr(cut + 4);
    body = body.substr(0, cut);
  }
  const std::string id = std::to_string(n);
  switch (kind) {
    case 'e': fuzz::WriteBytes(root / "Inbox" / (id + ".eml"), body); break;
    case 'm': fuzz::WriteBytes(root / "Clients" / "Acme" / (id + ".eml"), body); break;
    case 'c': fuzz::WriteBytes(root / "Contacts" / (id + ".meta"), body); break;
    case 'a':
      fuzz::WriteBytes(root / "Calendar" / (id + ".appt.meta"), body);
      fuzz::WriteBytes(root / "Calendar" / (id + ".appt"), data);
      break;
    case 't':
      fuzz::WriteBytes(root / "Tasks" / (id + ".task.meta"), body);
      fuzz::WriteBytes(root / "Tasks" / (id + ".task"), data);
      break;
    case 'n': fuzz::WriteBytes(root / "Notebook" / (id + ".wiki.meta"), body); break;
    default: fuzz::WriteBytes(root / "Other" / (id + ".txt"), body); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kMaxFiles = 8;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  static unsigned run_number = 0;
  const fs::path work = fuzz::ScratchFolder() / ("run" + std::to_string(++run_number));
  const fs::path source = work / "Export";
  const fs::path target = work / "out";
  fs::create_directories(source);
  source::PathList files;
  const std::vector<std::string_view> parts = fuzz::SplitInput(input, "@@@@\n");
  for (std::size_t i = 0; i < parts.size() && i < kMaxFiles; ++i) {
    WriteExportFile(source, i + 1, parts[i]);
  }
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(source)) {
    if (e.is_regular_file()) files.Append(e.path().string());
  }
  if (files.empty()) {
    fs::remove_all(work);
    return 0;
  }

  testsupport::FakeFrontEnd front_end(target.string());
  run::RunOptions options;
  options.clock = FixedClock;
  run::ConversionRun conversion(
      front_end, [] { return store::CreatePstSession(); }, run::DefaultItemSteps(), options);
  const run::RunResult result =
      conversion.CmdExtractDBX_Click(files, static_cast<int>(files.size()));
  if (result.outcome != run::RunOutcome::kCompleted) {
    fuzz::Fail("the run did not complete: " + result.cause);
  }
  const fs::path pst = conversion.State().PstPath;
  const pst::check::CheckResult check = pst::check::CheckPstFile(pst);
  if (!check.clean()) fuzz::Fail("the PST written is not clean:\n" + pst::check::FormatFindings(check));
  fs::remove_all(work);
  return 0;
}
