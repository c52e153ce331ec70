// The audio switch and the volume slider.
#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "audio/audio_dlg.h"
#include "platform/messages.h"
#include "platform/wave_out.h"
#include "protocol/dvr_client.h"
#include "ui/skin_slider.h"

namespace {
platform::IWaveOut& deviceOf(platform::IWaveOut* chosen) {
  return chosen != nullptr ? *chosen : platform::waveOut();
}
}  // namespace

void CViewerDlg::onAudioOn() {
  if (audioOn_) return;
  if (client_) client_->requestAudioOpen();
  audioWindow_->player().open(audioWindow_->windowId());
  setControlVisible(ctl::kAudioOn, false);
  setControlVisible(ctl::kAudioOff, true);
  audioOn_ = true;
}

void CViewerDlg::switchAudioOff() {
  if (audioOn_) {
    if (client_) {
      client_->requestAudioClose();
      client_->closeAudio();
    }
    audioWindow_->player().close();
    audioOn_ = false;
  }
  setControlVisible(ctl::kAudioOn, true);
  setControlVisible(ctl::kAudioOff, false);
}

// The orderly disconnect closes audio first and swaps the buttons only with the final reset.
void CViewerDlg::closeAudioForDisconnect() {
  if (client_) {
    client_->requestAudioClose();
    client_->closeAudio();
  }
  audioWindow_->player().close();
  audioOn_ = false;
}

bool CViewerDlg::readDeviceVolume() {
  platform::IWaveOut& device = deviceOf(services_.waveOut);
  if (device.numDevices() == 0) return true;
  platform::WaveOutCaps caps{};
  if (device.getDevCaps(0, &caps) != platform::kMmNoError) return false;
  if ((caps.support & platform::kWaveCapsVolume) != 0) {
    uint32_t level = 0;
    if (device.getVolume(0, &level) != platform::kMmNoError) return false;
    volume_ = level & 0xFFFF;
    volumeControl_->setPosition(static_cast<int>(volume_));
  }
  return true;
}

int CViewerDlg::onVolumeChanged(uintptr_t controlId, intptr_t position) {
  if (controlId != static_cast<uintptr_t>(ctl::kVolume)) return kHandled;
  volume_ = static_cast<uint32_t>(position) & 0xFFFF;
  const uint32_t both = volume_ * 0x10001u;
  return deviceOf(services_.waveOut).setVolume(0, both) == platform::kMmNoError ? kHandled
                                                                                : kRefused;
}
