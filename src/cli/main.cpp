// mailvane: the command-line front end of the conversion.
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <exception>
#include <iostream>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // local time for the store's dated names
  std::vector<std::string> args(argv + 1, argv + argc);
  mailvane::cli::CommandLineIo io{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1, 80};
  winsize size{};
  if (io.terminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    io.width = size.ws_col;
  }
  try {
    return mailvane::cli::RunCommandLine(args, mailvane::run::DefaultConversionSetup(), io);
  } catch (const std::exception& e) {
    std::cerr << "mailvane: the conversion stopped: " << e.what() << "\n";
    return mailvane::cli::kExitNotStarted;
  }
}
