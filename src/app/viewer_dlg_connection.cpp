// The connection workflow: Connect, Disconnect, the address book button, starting a connection
// (2024), closing live viewing (2025), the control connection's result and loss (2041, 2042),
// the live stream's loss (2051) and the connect timeout (timer 300).
#include <cstring>

#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "audio/audio_dlg.h"
#include "desktop/desktop_notifier.h"
#include "platform/dialog_host.h"
#include "platform/fixed_field.h"
#include "platform/messages.h"
#include "protocol/dvr_client.h"
#include "recording/live_tap.h"
#include "ui/address_book_dlg.h"
#include "ui/connect_dlg.h"
#include "ui/hover_button.h"
#include "video/frame_renderer.h"
#include "video/video_decoder.h"

namespace {
QString withName(const char* pattern, const QString& name) {
  return QString::fromLatin1(pattern).arg(name);
}

std::string fieldText(const std::array<uint8_t, ConnectRequest::kFieldSize>& field) {
  return readFixedFieldBytes(field);
}
}  // namespace

bool CViewerDlg::clientConnected() const {
  return client_ && client_->state().connected();
}

void CViewerDlg::deleteClient() {
  client_.reset();
  liveClosePending_ = false;
  disconnecting_ = false;
}

void CViewerDlg::onConnectCommand() {
  const int result = platform::dialogHost().execDialog(*connectDialog_);
  if (result == CConnectDlg::kConnectId) {
    ConnectRequest request;
    writeFixedField(request.name, QStringLiteral("DVR"));
    writeFixedField(request.address, connectDialog_->address());
    writeFixedField(request.password, connectDialog_->password());
    writeFixedField(request.userId, connectDialog_->userId());
    request.port = static_cast<uint16_t>(connectDialog_->port());
    setControlEnabled(ctl::kConnect, false);
    setControlVisible(ctl::kConnect, false);
    setControlEnabled(ctl::kDisconnect, true);
    setControlVisible(ctl::kDisconnect, true);
    setStatusText(withName("%1 Connecting...", addressText()));
    update();
    const auto started = platform::sendMessage(windowId(), msg::kConnectRequest, 0,
                                               reinterpret_cast<intptr_t>(&request));
    // The client keeps its own copy of the password.
    explicit_bzero(request.password.data(), request.password.size());
    if (started.value_or(kRefused) == kHandled) return;
    // Nothing was started: back to not connected, never a window that waits for nothing.
  }
  setControlEnabled(ctl::kConnect, true);
  setControlVisible(ctl::kConnect, true);
  setControlEnabled(ctl::kDisconnect, false);
  setControlVisible(ctl::kDisconnect, false);
  disableChannelButtons();
}

int CViewerDlg::onConnectRequest(ConnectRequest* request) {
  disconnectRequested_ = false;
  // A power-off or setup notice belongs to the session that got it.
  dvrLeft_ = false;
  if (request == nullptr) return kRefused;

  auto client = std::make_unique<CDvrClient>();
  client->attach(0, windowId(), &replyQueue_);
  // Every frame and audio block passes the tap on its way to the decoders and the player.
  if (liveTap_) {
    client->attachSubConnections(liveTap_.get(), liveTap_.get(), liveTap_.get());
  } else {
    client->attachSubConnections(videoDecoder_.get(), frameRenderer_.get(),
                                 &audioWindow_->player());
  }
  client->setLinkTimeoutMs(services_.linkTimeoutMs);
  deleteClient();
  client_ = std::move(client);

  ConnectionState& state = client_->state();
  state.setOption1(request->option1);
  if (state.setUserId(fieldText(request->userId)) == 0 ||
      state.setPassword(fieldText(request->password)) == 0) {
    deleteClient();
    return kRefused;
  }
  const std::string address = fieldText(request->address);
  state.setDisplayName(request->nameFlag == 0 ? address : fieldText(request->name));
  state.setNameIsAddress(request->nameFlag == 0);
  state.setOption2(request->option2);

  // The name is resolved on the connecting thread, so a slow resolver never freezes the window.
  if (client_->connectControl(address, request->port) == 1) {
    setTimer(timers::kConnectTimeout, services_.connectTimeoutMs);
    return kHandled;
  }
  notifySessionEnding(SessionEnd::ConnectFailed);
  setStatusText(withName("%1 Connection falure.", addressText()));
  repaintWindow(false);
  deleteClient();
  return kRefused;
}

int CViewerDlg::onCloseLiveViewing(uintptr_t channel) {
  if (channel > 15) return kRefused;
  if (clientConnected() && client_->stream().isRunning()) {
    idle_ = true;
    liveClosePending_ = client_->requestLiveClose() == 1;
  }
  return kHandled;
}

// What every teardown shares: controls back to "not connected", picture and audio gone.
void CViewerDlg::resetControlsAfterTeardown() {
  // A picture that has gone must not stay on the wall: full screen ends with the session.
  leaveFullScreen();
  killTimer(timers::kConnectTimeout);
  killTimer(timers::kSwitchTimeout);
  setControlEnabled(ctl::kConnect, true);
  setControlVisible(ctl::kConnect, true);
  setControlEnabled(ctl::kDisconnect, false);
  setControlVisible(ctl::kDisconnect, false);
  parkMarker();
  disableChannelButtons();
  showCameraPanel(false);
  ptzMoving_ = false;
  pressedStopCode_ = -1;
  videoDecoder_->endChannel();
  frameRenderer_->reset();
  stopRecording();
  if (liveTap_) liveTap_->clearSnapshot();
}

// The end of every teardown, once its status text is set: the DVR's name, audio, the picture
// and the client go.
void CViewerDlg::endSession() {
  connectDialog_->clearAddress();
  switchAudioOff();
  shownChannel_ = -1;
  deleteClient();
  // Cleared once no live stream is left to draw over it.
  showPicture(false);
  repaintWindow(true);
  connected_ = false;
  updateScreenSaver();
}

void CViewerDlg::notifySessionEnding(SessionEnd reason, int16_t loginStatus) {
  if (onSessionEnding) onSessionEnding(reason, loginStatus);
}

void CViewerDlg::setReconnectWaiting(bool waiting) {
  reconnectWaiting_ = waiting;
  if (client_) return;  // a connection shows its own buttons
  setControlEnabled(ctl::kConnect, !waiting);
  setControlEnabled(ctl::kDisconnect, waiting);
  if (layout_ != 0 || fullScreen_) return;
  setControlVisible(ctl::kConnect, !waiting);
  setControlVisible(ctl::kDisconnect, waiting);
}

int CViewerDlg::onControlConnectResult(intptr_t result) {
  if (result >= 0) return kHandled;
  if (client_) {
    notifySessionEnding(result == -2 ? SessionEnd::ConnectTimeout : SessionEnd::ConnectFailed);
  }
  onCloseLiveViewing(0);
  if (client_) client_->disconnectControl();
  resetControlsAfterTeardown();
  setStatusText(
      withName(result == -2 ? "%1 Connecting timeout." : "%1 Connecting failure.", addressText()));
  endSession();
  idle_ = true;
  dvrLeft_ = false;
  return kHandled;
}

void CViewerDlg::onConnectTimeout() {
  if (client_) onControlConnectResult(-2);
}

int CViewerDlg::onControlLinkLost() {
  return endLostSession(SessionEnd::LinkLost);
}

int CViewerDlg::endLostSession(SessionEnd reason) {
  if (client_) notifySessionEnding(reason);
  if (client_) client_->disconnectControl();
  resetControlsAfterTeardown();
  // A power-off or setup notice stays readable after the link goes.
  if (!dvrLeft_ && !addressText().isEmpty()) {
    setStatusText(withName("%1 Disconnected.", addressText()));
    // The notice's own bubble, if any, tells why already.
    if (connected_) notifyDesktop(statusText_, desktop::Urgency::Critical);
  }
  endSession();
  idle_ = true;
  dvrLeft_ = false;
  return kHandled;
}

// A live stream that ends on its own is a lost link; one that ends because live viewing was
// closed (a channel switch or the orderly disconnect) is not.
int CViewerDlg::onLiveStreamLost() {
  if (!client_ || !client_->stream().lost() || liveClosePending_) return kHandled;
  return endLostSession(SessionEnd::StreamLost);
}

void CViewerDlg::onDisconnectCommand() {
  disconnectRequested_ = true;
  if (client_) client_->stream().selectChannel(-1);
  showCameraPanel(false);
  killTimer(timers::kConnectTimeout);
  killTimer(timers::kSwitchTimeout);

  // The orderly way needs an open live stream (REQ_LIVECLOSE starts it) and a DVR that answers;
  // a second Disconnect while it waits finishes locally.
  if (clientConnected() && connected_ && !disconnecting_ && client_->stream().isRunning()) {
    closeAudioForDisconnect();
    disconnecting_ = true;  // RSP_LIVECLOSE now continues the disconnect, nothing else
    onCloseLiveViewing(0);
    if (liveClosePending_) return;
    disconnecting_ = false;
  }

  // The local way: every connection this session opened closes now (the client takes its live
  // stream, audio and notice connections with it), so nothing stays logged in at the DVR and
  // nobody waits for a client that can't answer any more.
  if (client_) notifySessionEnding(SessionEnd::UserDisconnect);
  if (client_) client_->disconnectControl();
  resetControlsAfterTeardown();
  setStatusText(QString());
  endSession();
  idle_ = true;
}

void CViewerDlg::onAddressBookCommand() {
  if (clientConnected()) return;
  platform::dialogHost().execDialog(*addressBookDialog_);
}
