// mailvane --batch LIST TARGET_FOLDER: every mailbox of the list into its own .pst and
// report in the target folder, several at once, each in a process of its own; resumable,
// with a summary kept as it goes, and shardable over machines by any scheduler.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace mailvane::cli {

// args holds --batch (before any "--").
bool IsBatch(const std::vector<std::string>& args);
int RunBatch(const std::vector<std::string>& args, CommandLineIo io);
std::string BatchUsageText();

// What this machine allows: one conversion per core, each with its memory bound free.
int DefaultJobs();

}  // namespace mailvane::cli
