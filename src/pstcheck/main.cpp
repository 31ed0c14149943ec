// mailvane-pstcheck FILE: checks a PST file with our strict checker.
// Exit 0: clean or notes only; 1: errors found; 2: unreadable file or wrong usage.
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "pst/check/pst_checker.h"

namespace {

constexpr const char* kUsage =
    "Usage: mailvane-pstcheck [--tree] FILE\n"
    "Checks a Unicode PST file: header and CRCs, pages and blocks, allocation maps,\n"
    "B-trees and reference counts, heaps, tables and property contexts, the mandatory\n"
    "nodes and every folder's tables and counts.\n"
    "\n"
    "      --tree     also print the folder tree with item counts and container classes\n"
    "  -h, --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status: 0 clean (notes allowed), 1 errors found, 2 unreadable file or bad usage.\n"
    "\n"
    "Full documentation: man mailvane-pstcheck\n"
    "Report bugs to: <mailvane@larkwell.example>\n";

constexpr const char* kVersion =
    "mailvane-pstcheck (Larkwell Mailvane) 4.3\n"
    "Copyright (C) 2026 Larkwell. All rights reserved.\n"
    "This program comes with NO WARRANTY, to the extent permitted by law.\n";

int BadUsage(const std::string& why) {
  std::cerr << "mailvane-pstcheck: " << why
            << "\nTry 'mailvane-pstcheck --help' for more information.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool tree = false;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << kVersion;
      return 0;
    }
    if (arg == "--tree") {
      tree = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return BadUsage("unknown option " + std::string(arg));
    } else if (file.empty()) {
      file = std::string(arg);
    } else {
      return BadUsage("only one FILE may be given");
    }
  }
  if (file.empty()) return BadUsage("FILE is needed");
  try {
    const auto result = mailvane::pst::check::CheckPstFile(file, {.folder_tree = tree});
    std::cout << mailvane::pst::check::FormatFindings(result);
    if (!result.readable) {
      std::cerr << "mailvane-pstcheck: " << file << ": unreadable\n";
      return 2;
    }
    if (tree) std::cout << mailvane::pst::check::FormatFolderTree(result.tree);
    std::cout << file << ": " << result.error_count() << " error(s), " << result.note_count()
              << " note(s)\n";
    return result.error_count() == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "mailvane-pstcheck: " << file << ": " << e.what() << "\n";
    return 2;
  }
}
