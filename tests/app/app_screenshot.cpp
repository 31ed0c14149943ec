// Draws the window on a real X display (Xvfb) and saves a picture of it in the build
// folder, so that a person can compare it with the intended layout.
#include <QImage>
#include <QPushButton>
#include <QtTest>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"

using mailvane::app::FrmStep1;
using mailvane::app::WindowServices;
using mailvane::app::testing::FakeDialogs;

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void WindowPicture() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
      QSKIP("needs an X display (run under xvfb-run)");
    }
    FakeDialogs dialogs;
    WindowServices services;
    services.dialogs = &dialogs;
    services.end_program = [](bool) {};
    FrmStep1 window(std::move(services));
    window.SetCountText("5 Messages Queued for Conversion.");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(200);

    const QImage image = window.grab().toImage();
    QCOMPARE(image.size(), QSize(553, 387));
    const QByteArray build = qgetenv("MAILVANE_BUILD_DIR");
    const QString path = (build.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(build)) +
                         QStringLiteral("/mailvane-gui-window.png");
    QVERIFY(image.save(path));
    qInfo("saved %s", qPrintable(path));

    // The bands as drawn: white behind the title, light yellow in the hint band.
    QCOMPARE(image.pixelColor(540, 4), QColor(255, 255, 255));
    QCOMPARE(image.pixelColor(40, 126), QColor(255, 255, 192));
    QCOMPARE(image.pixelColor(540, 380), QColor(255, 255, 255));
    // Some of the title is drawn in its dark red.
    bool red = false;
    for (int x = 16; x < 200 && !red; ++x) {
      for (int y = 8; y < 33 && !red; ++y) red = image.pixelColor(x, y) == QColor(192, 0, 0);
    }
    QVERIFY(red);
  }
};

QTEST_MAIN(ScreenshotTest)
#include "app_screenshot.moc"
