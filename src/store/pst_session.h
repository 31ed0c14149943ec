// The mail store interface over our own PST engine: a session owns the stores it created,
// each a PstStore, and hands out folder and item objects bound to them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pst/messaging/pst_store.h"
#include "store/mail_store.h"
#include "store/parse_ahead.h"

namespace mailvane::store {

class PstStoreObject;

class PstSession : public Session {
 public:
  PstSession();
  ~PstSession() override;

  void Logon() override;
  Store& AddPSTStore(const std::filesystem::path& path, int format,
                     std::string_view display_name) override;
  Store& GetStoreFromID(std::string_view entry_id) override;
  std::unique_ptr<Folder> GetFolderFromPath(std::string_view path) override;
  void Logoff() override;
  void RemoveStore(Store& store) override;
  void ExpectImports(const source::PathList* files, std::vector<bool> messages,
                     unsigned threads) override;

 private:
  void RequireLoggedOn(const char* operation) const;

  bool logged_on_ = false;
  std::vector<std::unique_ptr<PstStoreObject>> stores_;
  ParseAheadSlot parse_ahead_;
};

class PstStoreObject : public Store {
 public:
  PstStoreObject(std::unique_ptr<pst::messaging::PstStore> store, const ParseAheadSlot& parse_ahead);

  std::string EntryID() const override;
  std::string DisplayName() const override;
  std::filesystem::path FilePath() const override { return store_->path(); }
  void ValidateIPMTree() override;
  std::unique_ptr<Folder> GetDefaultFolder(DefaultFolder kind) override;
  std::unique_ptr<Folder> IPMRootFolder() override;
  void Commit() override;
  std::uint64_t SizeWith(std::uint64_t more) const override { return store_->SizeWith(more); }
  std::string WriteFailure() const override { return store_->WriteFailure(); }

  pst::messaging::PstStore& engine() { return *store_; }
  void Close();

 private:
  std::unique_ptr<pst::messaging::PstStore> store_;
  const ParseAheadSlot& parse_ahead_;
};

class PstFolderObject : public Folder {
 public:
  PstFolderObject(pst::messaging::Folder folder, const ParseAheadSlot& parse_ahead)
      : folder_(folder), parse_ahead_(parse_ahead) {}

  std::string Name() const override;
  std::vector<std::unique_ptr<Folder>> Folders() override;
  std::unique_ptr<Folder> SubFolder(std::string_view name) override;
  std::unique_ptr<Folder> AddFolder(std::string_view name, int type) override;
  std::unique_ptr<Item> AddItem(ItemType type) override;

 private:
  pst::messaging::Folder folder_;
  const ParseAheadSlot& parse_ahead_;
};

}  // namespace mailvane::store
