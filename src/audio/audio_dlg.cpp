#include "audio/audio_dlg.h"

#include <utility>

#include "platform/messages.h"

CAudioDlg::CAudioDlg(platform::IWaveOut* device, CAudioPlayer::Clock clock)
    : player_(device, std::move(clock)) {
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
    case msg::kWaveOutDone:
      return kHandled;  // the player's playout thread keeps the device fed at its own pace
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
