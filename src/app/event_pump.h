// The window's yield: lets Qt process what is pending, at most once per interval. A run
// calls it for every file and more, so between intervals it costs one clock read.
#pragma once

#include <chrono>

namespace mailvane::app {

class EventPump {
 public:
  static constexpr std::chrono::milliseconds kDefaultInterval{40};

  explicit EventPump(std::chrono::milliseconds interval = kDefaultInterval);

  // Processes pending events when the interval has passed since the last time.
  void Pump();
  // Processes pending events now.
  void PumpNow();

 private:
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace mailvane::app
