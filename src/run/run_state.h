// The state a run leaves behind; the next run overwrites it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mailvane::run {

enum class RunPhase {
  kIdle,
  kChoosingTarget,
  kSetUp,  // session, store, folder list: a failure ends the run with the "Outlook Error" box
  kCreatingFolderTree,
  kConverting,
  kFinishing,
};

struct RunState {
  std::string TargetFolder;  // ends with the separator once set
  std::string StoreDisplayName;
  std::string storeID;
  std::string PstPath;
  std::vector<std::string> FolderList;
  std::int32_t FileNumber = 0;  // 1-based position of the file being processed
  RunPhase phase = RunPhase::kIdle;
};

}  // namespace mailvane::run
