#include "run/store_names.h"

#include <cstdio>
#include <stdexcept>

namespace mailvane::run {

std::tm SystemLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    throw std::runtime_error("cannot read the local time");
  }
  return local;
}

std::string TimeStamp(const std::tm& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%02d %d.%d.%02d", t.tm_mday, t.tm_mon + 1,
                (t.tm_year + 1900) % 100, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string PstPathFor(const std::string& target_folder, const std::tm& t) {
  return target_folder + "ZimbraMailbox" + TimeStamp(t) + ".pst";
}

std::string StoreDisplayNameFor(const std::tm& t) {
  return "Mailbox (Zimbra) : Created - " + TimeStamp(t);
}

}  // namespace mailvane::run
