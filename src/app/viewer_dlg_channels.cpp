// Channel selection: the channel buttons, the switch with its timeout, the live start and the
// marker above the shown channel.
#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "protocol/byte_order.h"
#include "protocol/dvr_client.h"
#include "ui/channel_button.h"
#include "ui/hover_button.h"

namespace {
QRect markerRect(int channel) {
  return {channel <= 8 ? 13 * channel + 3 : 17 * channel - 29, 181, 6, 4};
}
}  // namespace

void CViewerDlg::enableChannelButtons() {
  const uint32_t masked = disabledMaskA_ | disabledMaskB_;
  for (int n = 0; n < channelButtonCount_; ++n) {
    CChannelButton* button = channelButtons_[static_cast<size_t>(n)];
    const bool available = ((masked >> n) & 1u) == 0;
    button->setState(available ? chstate::kAvailable : chstate::kUnavailable);
    button->setEnabled(available);
  }
}

void CViewerDlg::disableChannelButtons() {
  for (int n = 0; n < channelButtonCount_; ++n) {
    channelButtons_[static_cast<size_t>(n)]->setState(chstate::kUnavailable);
    channelButtons_[static_cast<size_t>(n)]->setEnabled(false);
  }
}

void CViewerDlg::moveMarkerTo(int channel) {
  channelMarker_->setGeometry(markerRect(channel));
  channelMarker_->show();
}

void CViewerDlg::parkMarker() {
  channelMarker_->setGeometry(markerRect(0));
  channelMarker_->hide();
}

void CViewerDlg::onChannelButton(int channel) {
  selectedChannel_ = channel;
  if (!client_ || channel == shownChannel_) return;
  stopRecording();  // a recording holds one channel
  liveReady_ = false;
  disableChannelButtons();
  display_.GXSuspend();
  setStatusText(QString());
  idle_ = false;
  setTimer(timers::kSwitchTimeout, services_.switchTimeoutMs);

  CStreamConnection& stream = client_->stream();
  stream.selectChannel(-1);
  int32_t result = 0;
  if (shownChannel_ == -1) {
    result = client_->requestLiveStart(channelMask(channel));
  } else if (stream.isRunning()) {
    // Every later switch closes the live stream and rebuilds it for the new channel.
    result = client_->requestLiveClose();
    liveClosePending_ = result == 1;
  } else {
    // The old live stream is gone already (an earlier switch failed half-way): rebuild at once.
    result = client_->requestLiveOpen();
  }
  // Only a request that went out counts: a failed send is a failed switch.
  if (result != 1) {
    requestFailure(false);
    display_.GXResume();
    return;
  }
  shownChannel_ = channel;
  display_.GXResume();
}

void CViewerDlg::onLiveStart(const uint8_t* body, uint32_t /*length*/) {
  if (readBe16(body) != 1) {
    requestFailure(false);
    return;
  }
  if (!client_) return;
  const uint32_t mask = readBe32(body + 2);
  if (mask == 0) return;
  client_->state().setLiveMaskBits(mask);
  liveReady_ = true;
  killTimer(timers::kSwitchTimeout);

  int shown = -1;
  for (int bit = 0; bit < kChannelCount; ++bit) {
    if ((mask >> bit) & 1u) {
      shown = bit;
      break;
    }
  }
  if (shown >= 0) {
    client_->stream().selectChannel(shown);
    client_->stream().requestNextFrame();
  }
  enableChannelButtons();
  if (shown >= 0) {
    channelButtons_[static_cast<size_t>(shown)]->setState(chstate::kShown);
    moveMarkerTo(shown);
    showPicture(true);
  }
  setStatusText(QString());
  if (shown >= 0 && !pendingRecordPath_.isEmpty() && liveTap_) {
    startRecordingTo(pendingRecordPath_, pendingRecordExisting_);
    pendingRecordPath_.clear();
  }
  showCameraPanel(shown >= 0 && ((ptzMask_ >> shown) & 1u) != 0);
  if (client_->audio().isConnected()) client_->requestAudioStop(0xFFFFFFFF);
}

void CViewerDlg::requestFailure(bool timedOut) {
  liveClosePending_ = false;
  enableChannelButtons();
  selectedChannel_ = shownChannel_;
  const QString pattern = timedOut ? QStringLiteral("Request timeout. [Channel %1]")
                                   : QStringLiteral("Request failure. [Channel %1]");
  setStatusText(pattern.arg(shownChannel_ + 1));
  // Drawing resumes for whatever stays on screen.
  liveReady_ = true;
  repaintWindow(true);
  killTimer(timers::kSwitchTimeout);
}
