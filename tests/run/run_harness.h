// A temporary export folder on disk and a run over it against the fake store, for tests.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_store.h"
#include "run/conversion_run.h"
#include "support/fake_front_end.h"
#include "support/files.h"

namespace mailvane::testing {

using testsupport::FakeFrontEnd;

// A scratch folder to lay an export out in.
class TempTree : public testsupport::ScratchDir {
 public:
  TempTree() : ScratchDir("run") {}
  const std::filesystem::path& root() const { return path(); }
};

// A short RFC 822 message.
inline std::string Rfc822(const std::string& subject) {
  return "From: a@example.com\r\nTo: b@example.com\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + subject + "@example.com>\r\n\r\nBody of " + subject + "\r\n";
}

// Which step was handed which file, in order.
struct StepCall {
  std::string step;
  std::string file;
};

// Item steps that only record the calls and say they wrote an item; the message step is the
// real one unless replaced.
inline run::ItemSteps RecordingSteps(std::vector<StepCall>& calls, bool real_messages = true) {
  auto record = [&calls](const char* step) {
    return [&calls, step](zimbra::ItemContext&, source::ExportFile& file) {
      calls.push_back({step, file.shown()});
      return true;
    };
  };
  run::ItemSteps steps;
  steps.contact = record("contact");
  steps.calendar = record("calendar");
  steps.task = record("task");
  steps.note = record("note");
  if (real_messages) {
    steps.message = [&calls](run::MessageContext& ctx, source::ExportFile& file,
                             const std::string& logical) {
      calls.push_back({"message", file.shown()});
      return run::ImportMessageFile(ctx, file, logical);
    };
  } else {
    steps.message = [&calls](run::MessageContext&, source::ExportFile& file, const std::string&) {
      calls.push_back({"message", file.shown()});
      return true;
    };
  }
  return steps;
}

// The clock of a run: 5 December 2026 09:07:03.
inline std::tm FixedTime() { return testsupport::LocalTimeAt(2026, 12, 5, 9, 7, 3); }

// One run over files with the fake store; target is a folder answer for the dialog.
struct Harness {
  FakeFrontEnd front_end;
  FakeWorld world;
  std::vector<StepCall> calls;
  std::unique_ptr<run::ConversionRun> run;

  explicit Harness(bool real_messages = true, run::RunOptions options = {}) {
    options.clock = FixedTime;
    run = std::make_unique<run::ConversionRun>(
        front_end, [this] { return std::make_unique<FakeSession>(world); },
        RecordingSteps(calls, real_messages), options);
  }
  run::RunResult Run(const std::vector<std::string>& files, const std::string& target) {
    front_end.folder_answers.push_back(target);
    return run->CmdExtractDBX_Click(files, static_cast<int>(files.size()));
  }
  std::vector<std::string> StepsOf(const std::string& file) const {
    std::vector<std::string> steps;
    for (const auto& c : calls) {
      if (c.file == file) steps.push_back(c.step);
    }
    return steps;
  }
};

}  // namespace mailvane::testing
