// A conversion of one mailbox in a process of its own, so that whatever happens to it
// (a crash, a memory limit, an abort) ends that mailbox and never the batch. The child is
// killed when the batch dies, so no conversion goes on unseen.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace mailvane::cli {

// Runs program with args (argv[0] excluded), its standard input and output on /dev/null and
// its standard error into err_file. Returns the process id, or -1 with the reason in why.
pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& err_file, std::string& why);

struct ChildEnd {
  pid_t pid = -1;      // -1: the child has not ended
  int exit_code = -1;  // -1 when a signal ended it
  int signal = 0;
};

// How the child ended; pid -1 while it runs.
ChildEnd ReapChild(pid_t child);

}  // namespace mailvane::cli
