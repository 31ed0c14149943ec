#include "app/store_tracker.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

namespace mailvane::app {
namespace {

// Passes every call through and tells the tracker which stores are open.
class TrackedSession final : public store::Session {
 public:
  TrackedSession(std::unique_ptr<store::Session> inner, StoreTracker& tracker)
      : inner_(std::move(inner)), tracker_(tracker) {}
  ~TrackedSession() override { tracker_.Forget(mine_); }
  TrackedSession(const TrackedSession&) = delete;
  TrackedSession& operator=(const TrackedSession&) = delete;

  void Logon() override { inner_->Logon(); }
  store::Store& AddPSTStore(const std::filesystem::path& path, int format,
                            std::string_view display_name) override {
    store::Store& added = inner_->AddPSTStore(path, format, display_name);
    mine_.push_back(&added);
    tracker_.Add(&added);
    return added;
  }
  store::Store& GetStoreFromID(std::string_view entry_id) override {
    return inner_->GetStoreFromID(entry_id);
  }
  std::unique_ptr<store::Folder> GetFolderFromPath(std::string_view path) override {
    return inner_->GetFolderFromPath(path);
  }
  void ExpectImports(const source::PathList* files, std::vector<bool> messages,
                     unsigned threads) override {
    inner_->ExpectImports(files, std::move(messages), threads);
  }
  void RemoveStore(store::Store& store) override {
    tracker_.Forget({&store});
    std::erase(mine_, &store);
    inner_->RemoveStore(store);
  }
  void Logoff() override {
    // Once closed, a store must not be committed again, whatever the log-off says.
    tracker_.Forget(mine_);
    mine_.clear();
    inner_->Logoff();
  }

 private:
  std::unique_ptr<store::Session> inner_;
  StoreTracker& tracker_;
  std::vector<store::Store*> mine_;
};

}  // namespace

run::SessionFactory StoreTracker::Track(run::SessionFactory make_session) {
  return [this, make_session = std::move(make_session)]() -> std::unique_ptr<store::Session> {
    std::unique_ptr<store::Session> inner = make_session();
    if (inner == nullptr) return nullptr;
    return std::make_unique<TrackedSession>(std::move(inner), *this);
  };
}

void StoreTracker::Add(store::Store* store) { open_.push_back(store); }

void StoreTracker::Forget(const std::vector<store::Store*>& stores) {
  std::erase_if(open_, [&](store::Store* s) {
    return std::find(stores.begin(), stores.end(), s) != stores.end();
  });
}

std::vector<std::string> StoreTracker::CommitAll() {
  std::vector<std::string> failures;
  for (store::Store* store : open_) {
    try {
      store->Commit();
    } catch (const std::exception& e) {
      failures.push_back("the store could not be committed: " + std::string(e.what()));
    } catch (...) {
      failures.push_back("the store could not be committed: an unknown error was raised");
    }
  }
  return failures;
}

}  // namespace mailvane::app
