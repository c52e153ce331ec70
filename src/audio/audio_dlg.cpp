#include "audio/audio_dlg.h"

#include "platform/messages.h"

CAudioDlg::CAudioDlg(platform::IWaveOut* device) : player_(device) {
  // Dialog initialisation: the player reports to this window from now on.
  player_.reset(windowId());
}

CAudioDlg::~CAudioDlg() {
  // No notification may reach a half-destroyed window; the player closes its device itself.
  unregisterWindow();
}

int CAudioDlg::onMessage(uint32_t msg, uintptr_t wParam, intptr_t) {
  switch (msg) {
    case msg::kWaveOutOpen:
      player_.onDeviceOpened(wParam);
      return kHandled;
    case msg::kWaveOutDone:
      return kHandled;
    case msg::kWaveOutClose:
      player_.onDeviceClosed(wParam);
      return kHandled;
    case msg::kClose:
      player_.close();
      return kHandled;
    default:
      return kRefused;
  }
}
