#pragma once
// The hidden audio window: it holds the player and receives the wave-out device's notifications,
// which the device posts to a window. It has no visible part.
#include "audio/audio_player.h"
#include "platform/message_window.h"

class CAudioDlg final : public CMessageWindow {
 public:
  // device: the wave-out device for the player; null takes the process's. clock: see
  // CAudioPlayer (null: real time, with the player's own playout thread).
  explicit CAudioDlg(platform::IWaveOut* device = nullptr, CAudioPlayer::Clock clock = nullptr);
  ~CAudioDlg() override;

  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  CAudioPlayer& player() { return player_; }

 private:
  CAudioPlayer player_;
};
