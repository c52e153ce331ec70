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
  markerShown_ = true;
}

void CViewerDlg::parkMarker() {
  channelMarker_->setGeometry(markerRect(0));
  channelMarker_->hide();
  markerShown_ = false;
}

void CViewerDlg::onChannelButton(int channel) {
  selectedChannel_ = channel;
  if (!client_ || channel == shownChannel_) return;
  stopRecording();  // a recording holds one channel
  // A new switch replaces a restart under way; with nothing shown (since the last teardown or a
  // failed first start) there is nothing to go back to.
  restartChannel_ = -1;
  if (shownChannel_ == -1) liveChannel_ = -1;
  liveReady_ = false;
  disableChannelButtons();
  display_.GXSuspend();
  setStatusText(QString());
  idle_ = false;
  setTimer(timers::kSwitchTimeout, services_.switchTimeoutMs);

  CStreamConnection& stream = client_->stream();
  stream.selectChannel(-1);
  int32_t result = 0;
  if (!stream.isRunning()) {
    // The live stream is gone already (a switch failed half-way): rebuild it at once.
    result = client_->requestLiveOpen();
  } else if (shownChannel_ == -1) {
    result = client_->requestLiveStart(channelMask(channel));
  } else {
    // Every later switch closes the live stream and rebuilds it for the new channel.
    result = client_->requestLiveClose();
    liveClosePending_ = result == 1;
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
  int shown = -1;
  for (int bit = 0; bit < kChannelCount; ++bit) {
    if ((mask >> bit) & 1u) {
      shown = bit;
      break;
    }
  }
  // While a switch waits for its channel, the start of another one (a restart that the switch
  // replaced) is stale.
  if (shown >= 0 && shown != shownChannel_ && timerRunning(timers::kSwitchTimeout)) return;
  client_->state().setLiveMaskBits(mask);
  liveReady_ = true;
  killTimer(timers::kSwitchTimeout);
  // The old channel back after a failed switch: the failure stays in view, audio never left it.
  const bool restarted = shown >= 0 && shown == restartChannel_;
  restartChannel_ = -1;

  if (shown >= 0) {
    // A late start after a timeout is acted on too: whatever starts is what streams.
    liveChannel_ = shown;
    shownChannel_ = shown;
    selectedChannel_ = shown;
    client_->stream().selectChannel(shown);
    client_->stream().requestNextFrame();
  }
  enableChannelButtons();
  if (shown >= 0) {
    channelButtons_[static_cast<size_t>(shown)]->setState(chstate::kShown);
    moveMarkerTo(shown);
    showPicture(true);
  }
  if (!restarted) setStatusText(QString());
  if (shown >= 0 && !pendingRecordPath_.empty() && liveTap_) {
    startRecordingTo(pendingRecordPath_, pendingRecordExisting_);
    pendingRecordPath_.clear();
  }
  showCameraPanel(shown >= 0 && ((ptzMask_ >> shown) & 1u) != 0);
  if (!restarted && client_->audio().isConnected()) client_->requestAudioStop(0xFFFFFFFF);
}

// A switch that fails or times out goes back to the channel that streamed before it: that one is
// shown, marked and started again, and every unmasked button (the failed one too) can be pressed.
void CViewerDlg::requestFailure(bool timedOut) {
  killTimer(timers::kSwitchTimeout);
  // When the restart itself fails, nothing is left on screen: no marker, no frozen picture.
  if (restartChannel_ >= 0) liveChannel_ = -1;
  restartChannel_ = -1;
  shownChannel_ = liveChannel_;
  selectedChannel_ = liveChannel_ >= 0 ? liveChannel_ : 0;
  enableChannelButtons();
  if (liveChannel_ >= 0) {
    channelButtons_[static_cast<size_t>(liveChannel_)]->setState(chstate::kShown);
    moveMarkerTo(liveChannel_);
  } else {
    parkMarker();
    showPicture(false);
  }
  const QString pattern = timedOut ? QStringLiteral("Request timeout. [Channel %1]")
                                   : QStringLiteral("Request failure. [Channel %1]");
  setStatusText(pattern.arg(shownChannel_ + 1));
  // Drawing resumes for whatever stays on screen.
  liveReady_ = true;
  repaintWindow(true);
  if (liveChannel_ >= 0) restartLiveChannel();
}

// Starts the channel of a failed switch again, on the live stream that runs now or on a rebuilt
// one (whose setup starts selectedChannel). A close still unanswered keeps its old stream's end
// expected.
void CViewerDlg::restartLiveChannel() {
  if (!client_) return;
  const int32_t result = client_->stream().isRunning()
                             ? client_->requestLiveStart(channelMask(liveChannel_))
                             : client_->requestLiveOpen();
  if (result != 1) return;  // nothing went out: the next press rebuilds the stream
  restartChannel_ = liveChannel_;
  setTimer(timers::kSwitchTimeout, services_.switchTimeoutMs);
}
