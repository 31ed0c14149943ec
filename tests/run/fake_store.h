// An in-memory mail store for tests: a session, one store and a folder tree that a test
// can inspect after a run, with switches that make chosen operations fail.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/file_time.h"
#include "store/mail_store.h"

namespace mailvane::testing {

// What an item was told, each call as one line:
//   "Subject=Lunch" SetText, "Start@2013-04-12 14:00" SetDate (wall time), "Start=2013-04-12
//   10:00Z" SetUtcTime, "AllDayEvent=true" SetBool/SetInt, "attach q2.pdf", "member N <a>",
//   "organizer N <a> 1/0" / "recipient N <a> type/response", "Save".
struct FakeItemRecord {
  store::ItemType type = store::ItemType::kMessage;
  std::string folder;  // the folder's path below the store's top
  std::vector<std::string> ops;
  std::vector<std::pair<std::string, std::string>> attachments;  // name, bytes
  int saves = 0;
};

inline std::string WallText(const store::LocalDateTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return t.second ? buf + (":" + std::string(t.second < 10 ? "0" : "") + std::to_string(t.second)) : buf;
}

inline std::string UtcText(base::FileTime ft) {
  const std::time_t unix_s = static_cast<std::time_t>(ft / 10000000ULL) - 11644473600LL;
  std::tm tm{};
  gmtime_r(&unix_s, &tm);
  return WallText({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec}) + "Z";
}

struct FakeFolderNode {
  std::string name;
  FakeFolderNode* parent = nullptr;
  std::vector<std::unique_ptr<FakeFolderNode>> children;

  FakeFolderNode* Child(std::string_view child) {
    for (auto& c : children) {
      if (c->name == child) return c.get();
    }
    return nullptr;
  }
  FakeFolderNode* Add(std::string child) {
    children.push_back(std::make_unique<FakeFolderNode>());
    children.back()->name = std::move(child);
    children.back()->parent = this;
    return children.back().get();
  }
  // The "\"-separated path below the store's top, "" for the top itself.
  std::string Path() const {
    if (parent == nullptr) return "";
    std::string up = parent->Path();
    return up.empty() ? name : up + "\\" + name;
  }
};

// Everything a fake session did, and the switches that make it fail.
struct FakeWorld {
  std::string fail_logon;      // non-empty: Logon raises this
  std::vector<std::string> failing_ops;       // item calls whose line starts so raise
  std::chrono::milliseconds commit_takes{0};  // each Commit sleeps this long

  int logons = 0;
  int commits = 0;
  int items_saved = 0;
  std::filesystem::path pst_path;
  std::string display_name;
  std::unique_ptr<FakeFolderNode> root;  // the IPM root, once a store exists
  std::map<store::DefaultFolder, FakeFolderNode*> defaults;
  std::vector<std::shared_ptr<FakeItemRecord>> created;  // every item, saved or not

};

class FakeItem : public store::Item {
 public:
  FakeItem(FakeWorld& world, FakeFolderNode& folder, store::ItemType type)
      : world_(world), record_(std::make_shared<FakeItemRecord>()) {
    record_->type = type;
    record_->folder = folder.Path();
    world.created.push_back(record_);
  }
  void SetText(std::string_view name, std::string_view utf8) override {
    Op(std::string(name) + "=" + std::string(utf8));
  }
  void SetDate(std::string_view name, const store::LocalDateTime& t) override {
    Op(std::string(name) + "@" + WallText(t));
  }
  void SetUtcTime(std::string_view name, base::FileTime t) override {
    Op(std::string(name) + "=" + UtcText(t));
  }
  void SetBool(std::string_view name, bool v) override {
    Op(std::string(name) + (v ? "=true" : "=false"));
  }
  void SetInt(std::string_view name, int v) override { Op(std::string(name) + "=" + std::to_string(v)); }
  void AddAttachment(std::vector<std::uint8_t> bytes, std::string_view name) override {
    Op("attach " + std::string(name));
    record_->attachments.emplace_back(name, std::string(bytes.begin(), bytes.end()));
  }
  void AddPicture(const std::filesystem::path& p) override { Op("picture " + p.string()); }
  void Import(const std::filesystem::path&, int) override {}
  void ImportStream(source::ByteReader&, std::uint64_t, int) override {}
  void SetOneProp(pst::ltp::PropTag, const pst::ltp::PropValue&, bool save) override {
    if (save) Save();
  }
  void SetNamedProp(const pst::messaging::NamedProperty&, const pst::ltp::PropValue&) override {}
  void AddMember(std::string_view n, std::string_view a) override {
    Op("member " + std::string(n) + " <" + std::string(a) + ">");
  }
  void AddException(const store::OccurrenceException&) override {}
  void AddRecipient(std::string_view n, std::string_view a, int type, int response,
                    bool organizer) override {
    Op(std::string(organizer ? "organizer " : "recipient ") + std::string(n) + " <" +
       std::string(a) + "> " + std::to_string(type) + "/" + std::to_string(response));
  }
  bool HasAttachments() const override { return !record_->attachments.empty(); }
  void Save() override {
    Op("Save");
    if (record_->saves++ == 0) ++world_.items_saved;
  }

 private:
  void Op(std::string line) {
    for (const auto& f : world_.failing_ops) {
      if (line.rfind(f, 0) == 0) throw store::StoreError("refused: " + line);
    }
    record_->ops.push_back(std::move(line));
  }

  FakeWorld& world_;
  std::shared_ptr<FakeItemRecord> record_;
};

class FakeFolder : public store::Folder {
 public:
  FakeFolder(FakeWorld& world, FakeFolderNode& node) : world_(world), node_(node) {}
  std::string Name() const override { return node_.name; }
  std::vector<std::unique_ptr<store::Folder>> Folders() override {
    std::vector<std::unique_ptr<store::Folder>> all;
    for (auto& c : node_.children) all.push_back(std::make_unique<FakeFolder>(world_, *c));
    return all;
  }
  std::unique_ptr<store::Folder> SubFolder(std::string_view name) override {
    FakeFolderNode* child = node_.Child(name);
    if (child == nullptr) return nullptr;
    return std::make_unique<FakeFolder>(world_, *child);
  }
  std::unique_ptr<store::Folder> AddFolder(std::string_view name, int) override {
    if (node_.Child(name) != nullptr) {
      throw store::StoreError("a folder named " + std::string(name) + " exists already");
    }
    return std::make_unique<FakeFolder>(world_, *node_.Add(std::string(name)));
  }
  std::unique_ptr<store::Item> AddItem(store::ItemType type) override {
    return std::make_unique<FakeItem>(world_, node_, type);
  }
  FakeFolderNode& node() { return node_; }

 private:
  FakeWorld& world_;
  FakeFolderNode& node_;
};

class FakeStore : public store::Store {
 public:
  explicit FakeStore(FakeWorld& world) : world_(world) {}
  std::string EntryID() const override { return "FAKE-STORE-ID"; }
  std::string DisplayName() const override { return world_.display_name; }
  std::filesystem::path FilePath() const override { return world_.pst_path; }
  void ValidateIPMTree() override {
    using store::DefaultFolder;
    const std::pair<DefaultFolder, std::string> standard[] = {
        {DefaultFolder::kDeletedItems, "Deleted Items"}, {DefaultFolder::kInbox, "Inbox"},
        {DefaultFolder::kOutbox, "Outbox"},              {DefaultFolder::kSentMail, "Sent Items"},
        {DefaultFolder::kCalendar, "Calendar"},          {DefaultFolder::kContacts, "Contacts"},
        {DefaultFolder::kJournal, "Journal"},            {DefaultFolder::kNotes, "Notes"},
        {DefaultFolder::kTasks, "Tasks"},                {DefaultFolder::kDrafts, "Drafts"},
        {DefaultFolder::kJunk, "Junk E-mail"}};
    for (const auto& [kind, name] : standard) {
      if (world_.defaults.count(kind) == 0) world_.defaults[kind] = world_.root->Add(name);
    }
  }
  std::unique_ptr<store::Folder> GetDefaultFolder(store::DefaultFolder kind) override {
    auto it = world_.defaults.find(kind);
    if (it == world_.defaults.end()) throw store::StoreError("no default folder of that kind");
    return std::make_unique<FakeFolder>(world_, *it->second);
  }
  std::unique_ptr<store::Folder> IPMRootFolder() override {
    return std::make_unique<FakeFolder>(world_, *world_.root);
  }
  void Commit() override {
    std::this_thread::sleep_for(world_.commit_takes);
    ++world_.commits;
  }
  std::string WriteFailure() const override { return {}; }

 private:
  FakeWorld& world_;
};

class FakeSession : public store::Session {
 public:
  explicit FakeSession(FakeWorld& world) : world_(world) {}
  void Logon() override {
    if (!world_.fail_logon.empty()) throw store::StoreError(world_.fail_logon);
    ++world_.logons;
  }
  store::Store& AddPSTStore(const std::filesystem::path& path, int format,
                            std::string_view display_name) override {
    if (format != store::kStoreFormatUnicode) throw store::StoreError("not the Unicode format");
    // As the real store: a name already taken gives the next free "stem (n).pst".
    std::filesystem::path free = path;
    for (int n = 2; std::filesystem::exists(free); ++n) {
      free.replace_filename(path.stem().string() + " (" + std::to_string(n) + ").pst");
    }
    std::ofstream file(free, std::ios::binary);
    if (!file) {
      throw std::system_error(errno, std::generic_category(), "cannot create " + free.string());
    }
    world_.pst_path = free;
    world_.display_name = display_name;
    world_.root = std::make_unique<FakeFolderNode>();
    world_.root->name = std::string(display_name);
    store_ = std::make_unique<FakeStore>(world_);
    return *store_;
  }
  store::Store& GetStoreFromID(std::string_view entry_id) override {
    if (store_ == nullptr || entry_id != store_->EntryID()) {
      throw store::StoreError("no store with entry ID " + std::string(entry_id));
    }
    return *store_;
  }
  std::unique_ptr<store::Folder> GetFolderFromPath(std::string_view) override {
    throw store::StoreError("not in the fake store");
  }
  void Logoff() override {
    if (store_ != nullptr) store_->Commit();
  }

 private:
  FakeWorld& world_;
  std::unique_ptr<FakeStore> store_;
};

}  // namespace mailvane::testing
