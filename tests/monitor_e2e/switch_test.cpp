// M in the compact window hands its DVR to the monitor window, and M there hands it back: each
// window ends its session in order and the other logs in to the same DVR.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>

#include "app/viewer_app.h"
#include "app/viewer_dlg.h"
#include "monitor/tile_widget.h"
#include "monitor_e2e/monitor_fixture.h"
#include "monitor_e2e/top_level.h"

namespace monitor_e2e {
namespace {

template <typename Window>
Window* findWindow(const QWidget* except) {
  for (QWidget* widget : topLevelWidgets()) {
    if (auto* found = qobject_cast<Window*>(widget); found && found != except && found->isVisible())
      return found;
  }
  return nullptr;
}

TEST_F(MonitorTest, KeyMSwitchesBetweenCompactAndMonitorForTheSameDvr) {
  start();
  CommandLineOptions options;
  options.host = "127.0.0.1";
  options.port = port();
  options.user = "demo";
  options.linkTimeoutSeconds = 20;
  std::string password = "demo";
  // 0: compact, waiting for "Connected."; 1: monitor, waiting for a picture; 2: compact again.
  int stage = 0;
  bool monitorShowedPicture = false;
  QTimer watch;
  watch.setInterval(50);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (stage == 0 || stage == 2) {
      CViewerDlg* compact = findWindow<CViewerDlg>(nullptr);
      if (compact == nullptr || !compact->statusText().endsWith(QStringLiteral(" Connected.")))
        return;
      if (stage == 2) {
        watch.stop();
        compact->close();
        return;
      }
      stage = 1;
      QKeyEvent m(QEvent::KeyPress, Qt::Key_M, Qt::NoModifier);
      QCoreApplication::sendEvent(compact, &m);
      return;
    }
    CMonitorWindow* monitor = findWindow<CMonitorWindow>(&window());
    if (monitor == nullptr || monitor->phase() != SessionPhase::Ready) return;
    if (monitor->tile(0)->picture().isNull()) return;
    monitorShowedPicture = true;
    stage = 2;
    QKeyEvent m(QEvent::KeyPress, Qt::Key_M, Qt::NoModifier);
    QCoreApplication::sendEvent(monitor, &m);
  });
  watch.start();
  QTimer::singleShot(30000, [&] {
    // A run that got stuck: end it the way a user would.
    for (QWidget* widget : topLevelWidgets()) {
      if (widget != &window() && widget->isVisible()) widget->close();
    }
  });
  EXPECT_EQ(CViewerApp().run(options, password), 0);
  EXPECT_TRUE(monitorShowedPicture);
  EXPECT_EQ(stage, 2);
  // Three logins in turn, each ended before the next: compact, monitor, compact.
  EXPECT_EQ(stats().loginsAccepted.load() >= 3, true) << stats().loginsAccepted.load();
  EXPECT_TRUE(waitFor([&] { return command("sessions") == "  no connections\n"; }, 8000))
      << command("sessions");
}

}  // namespace
}  // namespace monitor_e2e
