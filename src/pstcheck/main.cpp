// mailvane-pstcheck FILE: checks a PST file with our strict checker.
// Exit 0: clean or notes only; 1: errors found; 2: unreadable file or wrong usage.
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "pst/check/pst_checker.h"

namespace {

constexpr const char* kUsage =
    "usage: mailvane-pstcheck [--tree] FILE\n"
    "Checks a Unicode PST file: header and CRCs, pages and blocks, allocation maps,\n"
    "B-trees and reference counts, heaps, tables and property contexts, the mandatory\n"
    "nodes and every folder's tables and counts.\n"
    "  --tree   also print the folder tree with item counts and container classes\n"
    "  --help   print this text\n"
    "Exit status: 0 clean (notes allowed), 1 errors found, 2 unreadable file or bad usage.\n";

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
    if (arg == "--tree") {
      tree = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "mailvane-pstcheck: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else if (file.empty()) {
      file = std::string(arg);
    } else {
      std::cerr << "mailvane-pstcheck: only one FILE may be given\n" << kUsage;
      return 2;
    }
  }
  if (file.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    const auto result = mailvane::pst::CheckPstFile(file, {.folder_tree = tree});
    std::cout << mailvane::pst::FormatFindings(result);
    if (!result.readable) {
      std::cerr << "mailvane-pstcheck: " << file << ": unreadable\n";
      return 2;
    }
    if (tree) std::cout << mailvane::pst::FormatFolderTree(result.tree);
    std::cout << file << ": " << result.error_count() << " error(s), " << result.note_count()
              << " note(s)\n";
    return result.error_count() == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "mailvane-pstcheck: " << file << ": " << e.what() << "\n";
    return 2;
  }
}
