// The dated names of a run's new store: the .pst file name and the store's display name.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace mailvane::run {

// Reads the local wall clock; tests pass their own.
using LocalClock = std::function<std::tm()>;
std::tm SystemLocalTime();

// "d.m.YY H.m.ss": 5 December 2026 at 09:07:03 gives "5.12.26 9.7.03".
std::string TimeStamp(const std::tm& t);

// target_folder ends with the separator: target + "ZimbraMailbox" + stamp + ".pst".
std::string PstPathFor(const std::string& target_folder, const std::tm& t);
// "Mailbox (Zimbra) : Created - " + stamp.
std::string StoreDisplayNameFor(const std::tm& t);

}  // namespace mailvane::run
