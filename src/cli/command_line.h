// mailvane SOURCE_FOLDER TARGET_FOLDER: lists the source as the window's "Add Folder" does,
// runs the same conversion into a new .pst in the target folder, and says how it went.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "run/conversion_setup.h"

namespace mailvane::cli {

inline constexpr int kExitConverted = 0;   // every file converted
inline constexpr int kExitSomeFailed = 1;  // the run ended, but some files failed
inline constexpr int kExitNotStarted = 2;  // the run could not start ("Outlook Error" path)
inline constexpr int kExitUsage = 64;      // bad usage (as sysexits' EX_USAGE)

struct CommandLineIo {
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;  // out is a terminal
  int width = 80;
};

// args are the arguments after the program's name. Returns the exit code.
int RunCommandLine(const std::vector<std::string>& args, const run::ConversionSetup& setup,
                   CommandLineIo io);

inline constexpr const char* kBugReportAddress = "mailvane@larkwell.example";

std::string UsageText();    // --help
std::string VersionText();  // --version
std::string TryHelpText();  // the line after a usage error
// Prints a usage error and the line after it; returns the usage exit code.
int UsageError(const std::string& error, CommandLineIo& io);

}  // namespace mailvane::cli
