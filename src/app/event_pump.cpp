#include "app/event_pump.h"

#include <QCoreApplication>

namespace mailvane::app {

EventPump::EventPump(std::chrono::milliseconds interval) : interval_(interval) {}

void EventPump::Pump() {
  if (std::chrono::steady_clock::now() - last_ < interval_) return;
  PumpNow();
}

void EventPump::PumpNow() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  // Measured after processing, so a slow repaint does not make the next call pump again.
  last_ = std::chrono::steady_clock::now();
}

}  // namespace mailvane::app
