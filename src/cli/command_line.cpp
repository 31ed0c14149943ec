#include "cli/command_line.h"

#include <filesystem>
#include <system_error>

#include "cli/terminal_front_end.h"
#include "run/run_texts.h"
#include "source/path_logger.h"
#include "source/path_names.h"

namespace mailvane::cli {

namespace fs = std::filesystem;

namespace {

struct Arguments {
  bool help = false;
  bool version = false;
  bool quiet = false;
  std::vector<std::string> folders;
  std::string error;  // non-empty: bad usage, and why
};

Arguments Parse(const std::vector<std::string>& args) {
  Arguments a;
  bool options_end = false;
  for (const std::string& arg : args) {
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && (arg == "--help" || arg == "-h")) {
      a.help = true;
    } else if (!options_end && arg == "--version") {
      a.version = true;
    } else if (!options_end && (arg == "--quiet" || arg == "-q")) {
      a.quiet = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      a.error = "unknown option " + arg;
      return a;
    } else {
      a.folders.push_back(arg);
    }
  }
  if (!a.help && !a.version && a.folders.size() != 2) {
    a.error = a.folders.size() < 2 ? "SOURCE_FOLDER and TARGET_FOLDER are needed"
                                   : "too many arguments";
  }
  return a;
}

// An absolute path without "." or ".." parts: the store mirrors every folder of the path.
std::string Absolute(const std::string& path) {
  return fs::absolute(path).lexically_normal().string();
}

}  // namespace

std::string UsageText() {
  return "Usage: mailvane [--quiet] SOURCE_FOLDER TARGET_FOLDER\n"
         "Converts an extracted Zimbra mailbox export (SOURCE_FOLDER) into a new Outlook .pst\n"
         "file in TARGET_FOLDER (created when missing), with a report of the run beside it.\n"
         "\n"
         "  -q, --quiet    print only warnings and errors\n"
         "  -h, --help     print this help\n"
         "      --version  print the version\n"
         "\n"
         "Exit status: 0 every file converted, 1 some files failed (see the report),\n"
         "2 the conversion could not start, 64 bad usage.\n";
}

int RunCommandLine(const std::vector<std::string>& args, const run::SessionFactory& sessions,
                   const run::ItemSteps& steps, CommandLineIo io) {
  const Arguments a = Parse(args);
  if (!a.error.empty()) {
    io.err << "mailvane: " << a.error << "\n" << UsageText();
    return kExitUsage;
  }
  if (a.help) {
    io.out << UsageText();
    return kExitConverted;
  }
  if (a.version) {
    io.out << "mailvane (" << run::kApplicationTitle << ") " << run::kVersion << "\n";
    return kExitConverted;
  }
  std::error_code ec;
  const std::string source_folder = Absolute(a.folders[0]);
  if (!fs::is_directory(source_folder, ec)) {
    io.err << "mailvane: SOURCE_FOLDER " << a.folders[0] << " is not a folder"
           << (ec ? ": " + ec.message() : std::string()) << "\n";
    return kExitUsage;
  }

  TerminalFrontEnd front_end(io.out, io.err, {io.terminal, a.quiet, io.width});
  front_end.AnswerFolder(source_folder);
  front_end.AnswerFolder(Absolute(a.folders[1]));

  // The listing, as "Add Folder having Zimbra File(s)..." makes it.
  std::string chosen = front_end.BrowseForFolder(run::kChooseSourceTitle);
  if (chosen.back() != source::kPathSeparator) chosen += source::kPathSeparator;
  source::PathLogger logger([&](const std::string& text) { front_end.SetCountText(text); },
                            [&] { front_end.Yield(); });
  logger.PathLogInit();
  logger.setFullFileNamesOnly(true);
  logger.LogPath(chosen);
  std::vector<std::string> files = logger.TakeFullFileNames();
  const std::vector<source::SkippedFolder> skipped = logger.skippedFolders();
  logger.Terminate();
  const std::string count_text = source::QueuedCountText(files.size());
  front_end.SetCountText(count_text);
  front_end.ShowMessage(count_text, run::kApplicationTitle, source::MessageBoxIcon::kNone,
                        source::MessageBoxButtons::kOk);
  for (const source::SkippedFolder& s : skipped) {
    io.err << "mailvane: folder not read: " << s.path << ": " << s.reason << "\n";
  }
  if (files.empty()) {
    io.err << "mailvane: nothing to convert: no file below " << source_folder << "\n";
    return kExitNotStarted;
  }

  run::ConversionRun conversion(front_end, sessions, steps);
  const run::RunResult result =
      conversion.CmdExtractDBX_Click(files, static_cast<int>(files.size()));
  front_end.FinishLine();
  if (result.outcome != run::RunOutcome::kCompleted) return kExitNotStarted;

  const run::RunReport& report = conversion.Report();
  if (!a.quiet) {
    io.out << PlainLines(report.Summary());
    if (!result.report_path.empty()) io.out << "Report: " << result.report_path << "\n";
  }
  io.out.flush();
  return report.HasFailures() || !skipped.empty() ? kExitSomeFailed : kExitConverted;
}

}  // namespace mailvane::cli
