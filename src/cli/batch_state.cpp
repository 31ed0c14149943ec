#include "cli/batch_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "cli/atomic_file.h"

namespace mailvane::cli {

namespace fs = std::filesystem;

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// Mailboxes are private: folders the batch makes are for their owner only.
void MakeFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(), "cannot create the folder " + folder.string());
  }
}

}  // namespace

BatchState::BatchState(fs::path target) : target_(std::move(target)), work_(target_ / kWorkFolderName) {
  MakeFolder(target_);
  MakeFolder(work_);
}

fs::path BatchState::WorkFile(const std::string& name, const char* ending) const {
  return work_ / (name + ending);
}

FileLock BatchState::LockFile(const fs::path& path, bool wait) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot open the lock " + path.string());
  }
  while (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return FileLock();
    throw std::system_error(error, std::generic_category(), "cannot lock " + path.string());
  }
  return FileLock(fd);
}

FileLock BatchState::TryLockMailbox(const std::string& name) {
  return LockFile(WorkFile(name, ".lock"), false);
}

Records BatchState::Load() const {
  Records records;
  const fs::path path = target_ / kStateFileName;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return records;
    throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    try {
      MailboxRecord r = RecordFromJson(line);
      records[r.name] = std::move(r);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(path.string() + " line " + std::to_string(number) + ": " +
                               e.what() + "; move the file away to start the batch afresh");
    }
  }
  return records;
}

void BatchState::Store(const Records& records) const {
  std::vector<const MailboxRecord*> in_order;
  for (const auto& [name, r] : records) in_order.push_back(&r);
  std::stable_sort(in_order.begin(), in_order.end(), [](const auto* a, const auto* b) {
    return a->position < b->position;
  });
  std::string state;
  std::string csv = SummaryCsvHeader();
  std::string json_lines;
  for (const MailboxRecord* r : in_order) {
    const std::string line = RecordJsonLine(*r);
    state += line;
    if (r->status == kConverting) continue;
    csv += SummaryCsvRow(*r);
    json_lines += line;
  }
  // The state first: the summaries are only its view.
  ReplaceFileAtomically(target_ / kStateFileName, state);
  ReplaceFileAtomically(target_ / kSummaryCsvName, csv);
  ReplaceFileAtomically(target_ / kSummaryJsonName, json_lines);
}

void BatchState::Update(const std::function<bool(Records&)>& change) {
  const FileLock lock = LockFile(work_ / "lock", true);
  Records records = Load();
  if (change(records)) Store(records);
}

Records BatchState::Read() {
  const FileLock lock = LockFile(work_ / "lock", true);
  return Load();
}

}  // namespace mailvane::cli
