// The window's yield: cheap when called for every file, yet it lets the window work.
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include "app/event_pump.h"

using mailvane::app::EventPump;
using namespace std::chrono_literals;

class EventPumpTest : public QObject {
  Q_OBJECT

 private slots:
  void PendingWorkIsDone() {
    EventPump pump(20ms);
    int fired = 0;
    QTimer::singleShot(0, this, [&] { ++fired; });
    pump.Pump();  // the first call always processes
    QCOMPARE(fired, 1);
    QTimer::singleShot(0, this, [&] { ++fired; });
    QElapsedTimer clock;
    clock.start();
    while (fired < 2 && clock.elapsed() < 5000) pump.Pump();
    QCOMPARE(fired, 2);
  }

  void ManyCallsProcessRarely() {
    EventPump pump(40ms);
    constexpr long long kCalls = 5'000'000;
    QElapsedTimer clock;
    clock.start();
    for (long long i = 0; i < kCalls; ++i) pump.Pump();
    const qint64 ms = clock.elapsed();
    // At most one round per interval that passed, plus the first.
    QVERIFY2(pump.Rounds() <= ms / 40 + 2, qPrintable(QString::number(pump.Rounds())));
    qInfo("%lld yields in %lld ms (%.1f ns each), %lld rounds of events", kCalls,
          static_cast<long long>(ms), ms * 1e6 / kCalls, pump.Rounds());
  }

  void PumpNowAlwaysProcesses() {
    EventPump pump(1h);
    pump.Pump();
    int fired = 0;
    QTimer::singleShot(0, this, [&] { ++fired; });
    pump.Pump();  // within the interval: nothing
    QCOMPARE(fired, 0);
    pump.PumpNow();
    QCOMPARE(fired, 1);
  }
};

QTEST_MAIN(EventPumpTest)
#include "app_event_pump_tests.moc"
