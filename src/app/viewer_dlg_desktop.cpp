// The desktop around the window: the screen stays awake while it is the live picture's, and DVR
// notices and a lost link reach a user who is looking at another window.
#include "app/active_window.h"
#include "app/viewer_dlg.h"
#include "desktop/desktop_notifier.h"
#include "desktop/screen_saver_inhibitor.h"

namespace {
const QString kKeepAwakeReason = QStringLiteral("Showing live camera video");
}  // namespace

void CViewerDlg::updateScreenSaver() {
  desktop::CScreenSaverInhibitor* screenSaver = services_.screenSaver;
  if (screenSaver == nullptr) return;
  // Full screen opens only over a running live stream and ends with every teardown.
  if (fullScreen_ || (services_.keepAwakeWhileConnected && connected_)) {
    screenSaver->inhibit(kKeepAwakeReason);
  } else {
    screenSaver->release();
  }
}

void CViewerDlg::notifyDesktop(const QString& summary, desktop::Urgency urgency) {
  if (services_.notifier == nullptr || viewerActive()) return;
  services_.notifier->notify(summary, QStringLiteral("DVR %1").arg(addressText()), urgency);
}

// This window, its full-screen dialog or one of its boxes has the keyboard.
bool CViewerDlg::viewerActive() const {
  return isActiveWithin(this);
}
