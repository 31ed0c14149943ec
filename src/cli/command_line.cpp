#include "cli/command_line.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "cli/batch_command.h"
#include "cli/conversion_result.h"
#include "cli/option_value.h"
#include "cli/pst_names.h"
#include "cli/terminal_front_end.h"
#include "run/run_texts.h"
#include "run/file_tests.h"
#include "source/archive_source.h"
#include "source/folder_source.h"
#include "source/path_logger.h"
#include "source/path_names.h"

namespace mailvane::cli {

namespace fs = std::filesystem;

namespace {

struct Arguments {
  bool help = false;
  bool version = false;
  bool quiet = false;
  std::string name;    // --name: the .pst's file name
  std::string result;  // --result: where the machine-readable result goes
  bool keep_unread = false;
  std::uint64_t max_size = run::kDefaultMaxPstSize;  // --max-size; 0: none
  unsigned threads = 0;                              // --threads; 0: one per core
  std::vector<std::string> folders;
  std::string error;  // non-empty: bad usage, and why
};

Arguments Parse(const std::vector<std::string>& args) {
  Arguments a;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end) {
      a.folders.push_back(arg);
    } else if (std::optional<std::string> name = OptionValue(args, i, "--name", a.error)) {
      if (!a.error.empty()) return a;
      std::string why;
      a.name = PstFileName(*name, why);
      if (a.name.empty()) {
        a.error = "--name " + *name + ": " + why;
        return a;
      }
    } else if (std::optional<std::string> size = OptionValue(args, i, "--max-size", a.error)) {
      if (!a.error.empty()) return a;
      std::optional<std::uint64_t> bytes = MaxSizeValue(*size, a.error);
      if (!bytes) return a;
      a.max_size = *bytes;
    } else if (std::optional<std::string> threads = OptionValue(args, i, "--threads", a.error)) {
      if (!a.error.empty()) return a;
      std::optional<unsigned> n = ThreadsValue(*threads, a.error);
      if (!n) return a;
      a.threads = *n;
    } else if (std::optional<std::string> result = OptionValue(args, i, "--result", a.error)) {
      if (!a.error.empty()) return a;
      a.result = *result;
    } else if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && (arg == "--help" || arg == "-h")) {
      a.help = true;
    } else if (!options_end && arg == "--version") {
      a.version = true;
    } else if (!options_end && (arg == "--quiet" || arg == "-q")) {
      a.quiet = true;
    } else if (!options_end && arg == "--keep-unread") {
      a.keep_unread = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      a.error = "unknown option " + arg;
      return a;
    } else {
      a.folders.push_back(arg);
    }
  }
  if (!a.help && !a.version && a.folders.size() != 2) {
    a.error = a.folders.size() < 2 ? "SOURCE_FOLDER (or ARCHIVE) and TARGET_FOLDER are needed"
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
  return "Usage: mailvane [OPTION]... SOURCE_FOLDER TARGET_FOLDER\n"
         "       mailvane [OPTION]... ARCHIVE TARGET_FOLDER\n"
         "       mailvane [OPTION]... - TARGET_FOLDER\n"
         "       mailvane --batch LIST TARGET_FOLDER [--jobs N] [--shard K/N] [--quiet]\n"
         "Converts a Zimbra mailbox export into a new Outlook .pst file in TARGET_FOLDER\n"
         "(created when missing), with a report of the run beside it. The export is an\n"
         "extracted folder (SOURCE_FOLDER), the archive the server wrote (ARCHIVE: .tgz,\n"
         ".tar.gz, .tar or .zip, told apart by content), or such an archive on standard\n"
         "input (-), e.g.  curl .../home/user@example.com/?fmt=tgz | mailvane - out/\n"
         "An archive is read once as it comes and never extracted to disk.\n"
         "\n"
         "  -q, --quiet        print only warnings and errors\n"
         "      --name NAME    the .pst's file name in TARGET_FOLDER (\".pst\" added when\n"
         "                     missing); default: ZimbraMailbox and the date and time\n"
         "      --max-size SIZE\n"
         "                     start a new .pst (\"... part 2.pst\", ...) before the file\n"
         "                     would pass SIZE (K, M, G, T: 1024s); default 45G, 0: none\n"
         "      --threads N    threads that read and convert messages while one writes\n"
         "                     the .pst (1: that one does it all); default: one per core\n"
         "      --result FILE  also write the outcome as one JSON object to FILE: exit\n"
         "                     status, .pst, report, items by kind, failed files\n"
         "      --keep-unread  messages unread in Zimbra stay unread (else all are read)\n"
         "  -h, --help         display this help and exit\n"
         "      --version      output version information and exit\n"
         "\n"
         "The .pst file and the report are created readable by you only (mode 0600), and a\n"
         "TARGET_FOLDER created here is private to you (mode 0700): a mailbox is private.\n"
         "A .pst name already taken is never written over: the next free name \"... (2).pst\"\n"
         "is used, so several conversions can write into one folder at once.\n"
         "\n"
         "Exit status: 0 every file converted, 1 some files failed or the .pst file refused a\n"
         "write (see the report; it goes to the temporary folder when the target folder cannot\n"
         "take it), 2 the conversion could not start, 64 bad usage.\n" +
         BatchUsageText() +
         "\n"
         "Full documentation: man mailvane\n"
         "Report bugs to: <" + kBugReportAddress + ">\n";
}

std::string VersionText() {
  return "mailvane (" + std::string(run::kApplicationTitle) + ") " + run::kVersion +
         "\n"
         "Copyright (C) 2026 Larkwell. All rights reserved.\n"
         "This program comes with NO WARRANTY, to the extent permitted by law.\n";
}

std::string TryHelpText() { return "Try 'mailvane --help' for more information.\n"; }

int UsageError(const std::string& error, CommandLineIo& io) {
  io.err << "mailvane: " << error << "\n" << TryHelpText();
  return kExitUsage;
}

// The listing of a folder, with its running count.
source::PathList ListFolder(const std::string& folder, TerminalFrontEnd& front_end,
                            std::vector<source::SkippedFolder>& skipped) {
  std::string listed = folder;
  if (listed.back() != source::kPathSeparator) listed += source::kPathSeparator;
  source::PathLogger logger([&](const std::string& text) { front_end.SetCountText(text); },
                            [&] { front_end.Yield(); });
  logger.PathLogInit();
  logger.LogPath(listed);
  source::PathList files = logger.TakeFullFileNames();
  skipped = logger.skippedFolders();
  logger.Terminate();
  front_end.CountDone(source::QueuedCountText(files.size()));
  return files;
}

// The conversion of one source; outcome takes what a driving program needs to know.
int Convert(const Arguments& a, const run::ConversionSetup& setup, CommandLineIo io,
            ConversionResult& outcome) {
  std::error_code ec;
  const std::string source_path = a.folders[0] == "-" ? "-" : Absolute(a.folders[0]);
  TerminalFrontEnd front_end(io.out, io.err, {io.terminal, a.quiet, io.width});
  source::PathList files;  // a folder's listing, read by the source below
  std::unique_ptr<source::ExportSource> source;
  std::vector<source::SkippedFolder> skipped;
  if (source_path == "-" || (!fs::is_directory(source_path, ec) && fs::exists(source_path, ec))) {
    // An archive, from a file or standard input: read as it comes, never extracted.
    try {
      auto archive = std::make_unique<source::ArchiveSource>(source_path, run::TakesDataFile);
      front_end.CountDone(source::ArchiveQueuedText(archive->Name(), archive->ArchiveSize()));
      source = std::move(archive);
    } catch (const source::NotAnArchive& e) {
      outcome.error = "SOURCE_FOLDER " + a.folders[0] + " is neither a folder nor an archive: " +
                      e.what();
      io.err << "mailvane: " << outcome.error << "\n" << TryHelpText();
      return kExitUsage;
    } catch (const std::exception& e) {
      outcome.error = "cannot read the archive " + a.folders[0] + ": " +
                      e.what();
      io.err << "mailvane: " << outcome.error << "\n";
      return kExitNotStarted;
    }
  } else if (!fs::is_directory(source_path, ec)) {
    outcome.error = "SOURCE_FOLDER " + a.folders[0] + " is not a folder" +
                    (ec ? ": " + ec.message() : std::string());
    io.err << "mailvane: " << outcome.error << "\n";
    return kExitUsage;
  } else {
    files = ListFolder(source_path, front_end, skipped);
    for (const source::SkippedFolder& s : skipped) {
      io.err << "mailvane: folder not read: " << s.path << ": " << s.reason << "\n";
    }
    if (files.empty()) {
      outcome.error = "nothing to convert: no file below " + source_path;
      io.err << "mailvane: " << outcome.error << "\n";
      return kExitNotStarted;
    }
    source = std::make_unique<source::FolderSource>(files, source_path);
  }

  run::RunOptions options = setup.options;
  options.pst_name = a.name;
  options.keep_unread = a.keep_unread;
  options.max_pst_size = a.max_size;
  options.threads = a.threads;
  run::ConversionRun conversion(front_end, setup.session_factory, setup.steps, options);
  const run::RunResult result = conversion.ConvertInto(Absolute(a.folders[1]), *source);
  front_end.FinishLine();
  const std::string& pst = conversion.State().PstPath;
  if (!pst.empty() && fs::exists(pst, ec)) outcome.pst = pst;
  if (result.outcome != run::RunOutcome::kCompleted) {
    outcome.error = result.cause.empty() ? "the conversion did not start" : result.cause;
    return kExitNotStarted;
  }

  const run::RunReport& report = conversion.Report();
  outcome.report = result.report_path;
  outcome.TakeCounts(report);
  if (!skipped.empty()) outcome.error = std::to_string(skipped.size()) + " folder(s) not read";
  if (!report.StoreFailure().empty()) {
    outcome.error = "the .pst file refused a write: " + report.StoreFailure();
  }
  if (!a.quiet) {
    io.out << PlainLines(report.Summary());
    if (!result.report_path.empty()) io.out << "Report: " << result.report_path << "\n";
  }
  io.out.flush();
  if (result.report_path.empty()) {
    // With no report anywhere, its failure lines go to the terminal rather than nowhere.
    io.err << "mailvane: the report could not be written; its failures (file | step | reason):\n";
    for (const run::Failure& f : report.Failures()) {
      io.err << "  " << f.file << " | " << f.step << " | " << f.reason << "\n";
    }
  }
  return report.HasFailures() || report.NothingConverted() || !skipped.empty() ? kExitSomeFailed
                                                                                : kExitConverted;
}

int RunCommandLine(const std::vector<std::string>& args, const run::ConversionSetup& setup,
                   CommandLineIo io) {
  if (IsBatch(args)) return RunBatch(args, io);
  const Arguments a = Parse(args);
  if (!a.error.empty()) return UsageError(a.error, io);
  if (a.help) {
    io.out << UsageText();
    return kExitConverted;
  }
  if (a.version) {
    io.out << VersionText();
    return kExitConverted;
  }
  ConversionResult outcome;
  const int code = Convert(a, setup, io, outcome);
  outcome.exit_status = code;
  if (!a.result.empty()) {
    try {
      WriteConversionResult(a.result, outcome);
    } catch (const std::exception& e) {
      io.err << "mailvane: " << e.what() << "\n";
    }
  }
  return code;
}

}  // namespace mailvane::cli
