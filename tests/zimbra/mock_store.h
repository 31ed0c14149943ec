// GMock doubles of the mail store interface, and a small world built from them that
// records, per item created, every operation in order as one line of text:
//   "Subject=Lunch"            SetText
//   "Start@2013-04-12 14:00"   SetDate (local wall time; seconds shown when not 0)
//   "Start=2013-04-12 10:00Z"  SetUtcTime
//   "AllDayEvent=true"         SetBool / SetInt
//   "attach q2.pdf"            AddAttachment (display name); bytes kept in attachments
//   "picture p.jpg", "Save"
#pragma once

#include <gmock/gmock.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "store/mail_store.h"

namespace mailvane::zimbra::testing {

class MockItem : public store::Item {
 public:
  MOCK_METHOD(void, SetText, (std::string_view, std::string_view), (override));
  MOCK_METHOD(void, SetDate, (std::string_view, const store::LocalDateTime&), (override));
  MOCK_METHOD(void, SetUtcTime, (std::string_view, pst::FileTime), (override));
  MOCK_METHOD(void, SetBool, (std::string_view, bool), (override));
  MOCK_METHOD(void, SetInt, (std::string_view, int), (override));
  MOCK_METHOD(void, AddAttachment, (std::vector<std::uint8_t>, std::string_view), (override));
  MOCK_METHOD(void, AddPicture, (const std::filesystem::path&), (override));
  MOCK_METHOD(void, Import, (const std::filesystem::path&, int), (override));
  MOCK_METHOD(void, ImportBytes, (std::string_view, int), (override));
  MOCK_METHOD(void, SetOneProp, (pst::PropTag, const pst::PropValue&, bool), (override));
  MOCK_METHOD(void, SetNamedProp, (const pst::NamedProperty&, const pst::PropValue&), (override));
  MOCK_METHOD(void, AddRecipient, (std::string_view, std::string_view, int, int, bool),
              (override));
  MOCK_METHOD(void, AddException, (const store::OccurrenceException&), (override));
  MOCK_METHOD(void, AddMember, (std::string_view, std::string_view), (override));
  MOCK_METHOD(bool, HasAttachments, (), (const, override));
  MOCK_METHOD(void, Save, (), (override));
};

class MockFolder : public store::Folder {
 public:
  MOCK_METHOD(std::string, Name, (), (const, override));
  MOCK_METHOD(std::vector<std::unique_ptr<store::Folder>>, Folders, (), (override));
  MOCK_METHOD(std::unique_ptr<store::Folder>, SubFolder, (std::string_view), (override));
  MOCK_METHOD(std::unique_ptr<store::Folder>, AddFolder, (std::string_view, int), (override));
  MOCK_METHOD(std::unique_ptr<store::Item>, AddItem, (store::ItemType), (override));
};

class MockStore : public store::Store {
 public:
  MOCK_METHOD(std::string, EntryID, (), (const, override));
  MOCK_METHOD(std::string, DisplayName, (), (const, override));
  MOCK_METHOD(std::filesystem::path, FilePath, (), (const, override));
  MOCK_METHOD(void, ValidateIPMTree, (), (override));
  MOCK_METHOD(std::unique_ptr<store::Folder>, GetDefaultFolder, (store::DefaultFolder),
              (override));
  MOCK_METHOD(std::unique_ptr<store::Folder>, IPMRootFolder, (), (override));
  MOCK_METHOD(void, Commit, (), (override));
  MOCK_METHOD(std::string, WriteFailure, (), (const, override));
};

class MockSession : public store::Session {
 public:
  MOCK_METHOD(void, Logon, (), (override));
  MOCK_METHOD(store::Store&, AddPSTStore, (const std::filesystem::path&, int, std::string_view),
              (override));
  MOCK_METHOD(store::Store&, GetStoreFromID, (std::string_view), (override));
  MOCK_METHOD(std::unique_ptr<store::Folder>, GetFolderFromPath, (std::string_view), (override));
  MOCK_METHOD(void, Logoff, (), (override));
};

inline std::string WallText(const store::LocalDateTime& t) {
  char buf[96];
  if (t.second) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
  }
  return buf;
}

inline std::string UtcText(pst::FileTime ft) {
  const std::time_t unix_s = static_cast<std::time_t>(ft / 10000000ULL) - 11644473600LL;
  std::tm tm{};
  gmtime_r(&unix_s, &tm);
  store::LocalDateTime t;
  t.year = tm.tm_year + 1900, t.month = tm.tm_mon + 1, t.day = tm.tm_mday;
  t.hour = tm.tm_hour, t.minute = tm.tm_min, t.second = tm.tm_sec;
  return WallText(t) + "Z";
}

// One attachment as the item received it.
struct ReceivedAttachment {
  std::string name;
  std::string bytes;
};

// A session whose store hands out recording items. Set fail_next to make an operation
// raise: it is matched against the logged line's start ("Subject=", "Save", ...).
class StoreWorld {
 public:
  StoreWorld() {
    using ::testing::_;
    ON_CALL(session, GetStoreFromID(_)).WillByDefault(::testing::ReturnRef(store));
    ON_CALL(store, GetDefaultFolder(_)).WillByDefault([this](store::DefaultFolder kind) {
      auto folder = std::make_unique<::testing::NiceMock<MockFolder>>();
      ON_CALL(*folder, AddItem(_)).WillByDefault([this, kind](store::ItemType type) {
        return NewItem(kind, type);
      });
      return std::unique_ptr<store::Folder>(std::move(folder));
    });
  }

  struct Created {
    store::DefaultFolder folder;
    store::ItemType type;
    std::vector<std::string> ops;
    std::vector<ReceivedAttachment> attachments;
  };

  ::testing::NiceMock<MockSession> session;
  ::testing::NiceMock<MockStore> store;
  std::vector<Created> items;
  std::vector<std::string> failing;  // line starts that raise

  const std::vector<std::string>& ops(std::size_t i = 0) const { return items.at(i).ops; }

 private:
  void Log(std::size_t index, std::string line) {
    for (const auto& f : failing) {
      if (line.rfind(f, 0) == 0) throw store::StoreError("refused: " + line);
    }
    items[index].ops.push_back(std::move(line));
  }

  std::unique_ptr<store::Item> NewItem(store::DefaultFolder kind, store::ItemType type) {
    using ::testing::_;
    const std::size_t i = items.size();
    items.push_back({kind, type, {}, {}});
    auto item = std::make_unique<::testing::NiceMock<MockItem>>();
    ON_CALL(*item, SetText(_, _)).WillByDefault([this, i](std::string_view n, std::string_view v) {
      Log(i, std::string(n) + "=" + std::string(v));
    });
    ON_CALL(*item, SetDate(_, _)).WillByDefault(
        [this, i](std::string_view n, const store::LocalDateTime& t) {
          Log(i, std::string(n) + "@" + WallText(t));
        });
    ON_CALL(*item, SetUtcTime(_, _)).WillByDefault([this, i](std::string_view n, pst::FileTime t) {
      Log(i, std::string(n) + "=" + UtcText(t));
    });
    ON_CALL(*item, SetBool(_, _)).WillByDefault([this, i](std::string_view n, bool v) {
      Log(i, std::string(n) + (v ? "=true" : "=false"));
    });
    ON_CALL(*item, SetInt(_, _)).WillByDefault([this, i](std::string_view n, int v) {
      Log(i, std::string(n) + "=" + std::to_string(v));
    });
    ON_CALL(*item, AddPicture(_)).WillByDefault([this, i](const std::filesystem::path& p) {
      Log(i, "picture " + p.string());
    });
    ON_CALL(*item, AddAttachment(_, _))
        .WillByDefault([this, i](std::vector<std::uint8_t> bytes, std::string_view name) {
          Log(i, "attach " + std::string(name));
          items[i].attachments.push_back({std::string(name), std::string(bytes.begin(), bytes.end())});
        });
    ON_CALL(*item, AddRecipient(_, _, _, _, _))
        .WillByDefault([this, i](std::string_view name, std::string_view address, int type,
                                 int response, bool organizer) {
          Log(i, std::string(organizer ? "organizer " : "recipient ") + std::string(name) +
                     " <" + std::string(address) + "> " + std::to_string(type) + "/" +
                     std::to_string(response));
        });
    ON_CALL(*item, AddMember(_, _)).WillByDefault([this, i](std::string_view n, std::string_view a) {
      Log(i, "member " + std::string(n) + " <" + std::string(a) + ">");
    });
    ON_CALL(*item, Save()).WillByDefault([this, i] { Log(i, "Save"); });
    return item;
  }
};

}  // namespace mailvane::zimbra::testing
