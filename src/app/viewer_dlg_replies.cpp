// Reply handling: every ReplyRecord the queue delivers (4026) drives the conversation on, and
// the window's own request orders (4025) issue the requests of the preparation.
#include <algorithm>
#include <array>
#include <cstring>

#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "desktop/desktop_notifier.h"
#include "platform/display.h"
#include "platform/messages.h"
#include "platform/string_table.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "protocol/model_table.h"
#include "ui/connect_dlg.h"
#include "video/frame_renderer.h"
#include "video/video_decoder.h"

namespace {
constexpr uint32_t kMaxIndex = 16;
const QString kCameraBusy =
    QStringLiteral("Already using PTZ Camera Control. Please check it again.");

uint16_t statusOf(const uint8_t* body) {
  return readBe16(body);
}

// The first n bytes of a body (at most its length) in a zeroed buffer of n bytes.
template <size_t N>
std::array<uint8_t, N> copyAtMost(const ReplyRecord& record) {
  std::array<uint8_t, N> buffer{};
  std::memcpy(buffer.data(), record.body, std::min<size_t>(N, record.length));
  return buffer;
}

QString errorText(const char* replyName) {
  return QStringLiteral("Error : ") + QString::fromLatin1(replyName);
}

// The box for a refused login; empty for the status that has none.
QString loginRefusalText(int16_t status) {
  switch (status) {
    case 2:
      return strings::load(strings::kSameUserLoggedIn);
    case 2049:
      return strings::load(strings::kAdminLoggedIn);
    case 2050:
      return strings::load(strings::kTooManyUsers);
    case 2051:
      return strings::load(strings::kAccountRefused);
    case 2052:
      return strings::load(strings::kInvalidPassword);
    case 2053:
      return {};
    case 2054:
      return strings::load(strings::kLocalConnecting);
    case 2055:
      return strings::load(strings::kUserInSetup);
    default:
      return QStringLiteral("Auth Error");
  }
}
}  // namespace

void CViewerDlg::sendOrder(int32_t index, uint32_t request, intptr_t argument) {
  RequestOrder order{index, request, 0, 0};
  platform::sendMessage(windowId(), msg::kRequestOrder, reinterpret_cast<uintptr_t>(&order),
                        argument);
}

int CViewerDlg::onRequestOrder(const RequestOrder* order, intptr_t argument) {
  if (order == nullptr || order->index < 0 || order->index > static_cast<int32_t>(kMaxIndex) ||
      !client_) {
    return kRefused;
  }
  switch (order->request) {
    case REQ_PTZACTIVECAM:
      client_->requestPtzActiveCam();
      break;
    case REQ_INFOPRODUCTINFO:
      client_->requestProductInfo();
      break;
    case REQ_INFOCONFIGSET:
      client_->requestConfigSet(argument != 0);
      break;
    case REQ_AUDIOCHANNEL:
      client_->requestAudioChannel(static_cast<uint32_t>(argument));
      break;
    default:
      break;
  }
  return kRefused;
}

int CViewerDlg::onReply(const ReplyRecord* record) {
  if (record == nullptr || record->index < 0 || record->index > static_cast<int32_t>(kMaxIndex)) {
    return kRefused;
  }
  // A reply of a client that is gone never acts on the next one.
  if (record->session != 0 && (!client_ || client_->session() != record->session)) {
    return kHandled;
  }
  if (record->body == nullptr) return kHandled;
  const uint8_t* body = record->body;
  const uint32_t length = record->length;
  switch (record->command) {
    case RSP_AUTHRESULT:
      if (length == 3) onAuthResult(*record, static_cast<int16_t>(statusOf(body)));
      break;
    case RSP_INFOPRODUCTINFO: {
      if (length != 50) break;
      if (statusOf(body) != 1) {
        showMessage(errorText("RSP_INFOPRODUCTINFO"));
        break;
      }
      if (!client_) break;
      client_->state().setVideoStandard(body[18] == 2 ? 1 : 2);
      const ModelInfo model = lookupModelInfo(
          std::span<const uint8_t>(body + kModelIdentifierOffset, length - kModelIdentifierOffset));
      if (model == ModelInfo{}) break;  // an unknown model goes no further
      client_->state().setModelInfo(model);
      sendOrder(record->index, REQ_PTZACTIVECAM, 0);
      break;
    }
    case RSP_PTZACTIVECAM: {
      if (length < 81) break;
      if (statusOf(body) != 1) {
        showMessage(errorText("RSP_PTZACTIVECAM"));
        break;
      }
      disabledMaskB_ = readBe32(body + 67);
      ptzMask_ = readBe32(body + 71);
      disabledMaskA_ = readBe32(body + 75);
      if (body[79] * body[80] == 0 || !client_) break;
      sendOrder(record->index, REQ_INFOCONFIGSET, 1);
      break;
    }
    case RSP_INFOCONFIGSET: {
      const auto buffer = copyAtMost<24>(*record);
      if (statusOf(buffer.data()) != 1) {
        showMessage(errorText("RSP_INFOCONFIGSET"));
      } else if (client_) {
        client_->requestQosResolution(0x0000FFFF, 130);
      }
      break;
    }
    case RSP_QOSRESOLUTION:
      if (length != 7) break;
      if (statusOf(body) != 1) {
        showMessage(errorText("RSP_QOSRESOLUTION"));
      } else if (client_) {
        client_->requestLiveOpen();
      }
      break;
    case RSP_LIVEOPEN:
      if (length < 1) break;
      if (length < 2 || statusOf(body) != 1) {
        setStatusText(QStringLiteral("%1 Connection falure.").arg(addressText()));
        repaintWindow(false);
      }
      break;
    case RSP_LIVESETUP:
      if (length == 20) onLiveSetup(statusOf(body));
      break;
    case RSP_LIVESTART: {
      const auto buffer = copyAtMost<22>(*record);
      onLiveStart(buffer.data(), length);
      break;
    }
    case RSP_LIVESTOP: {
      if (length != 22) break;
      if (statusOf(body) != 1) {
        showMessage(errorText("RSP_LIVESTOP"));
        break;
      }
      videoDecoder_->endChannel();
      if (!client_) break;
      const uint32_t stopped = readBe32(body + 2);
      if (stopped != 0) client_->state().clearLiveMaskBits(stopped);
      if (stopped == 0x0000FFFF) break;
      client_->stream().selectChannel(selectedChannel_);
      client_->requestLiveStart(channelMask(selectedChannel_));
      break;
    }
    case RSP_LIVECLOSE:
      if (length == 2) onLiveClose(statusOf(body));
      break;
    case RSP_DISCONNECT:
      if (length == 2) onDisconnectReply(statusOf(body));
      break;
    case RSP_PTZCONTROL:
      onPtzControlReply(body, length);
      break;
    case RSP_AUDIOSTART:
    case RSP_AUDIOSTOP:
      if (length == (record->command == RSP_AUDIOSTART ? 89u : 87u) && statusOf(body) == 1 &&
          client_) {
        client_->requestAudioChannel(static_cast<uint32_t>(selectedChannel_ + 1));
      }
      break;
    case RSP_AUDIOCHANNEL: {
      if (length != 76 || statusOf(body) != 1 || !client_ || body[68] == 0) break;
      const int number = body[67];  // counted from 1
      if (number >= 1 && number <= 32) client_->requestAudioSelect(1u << (number - 1));
      break;
    }
    case EVT_NOTICE:
      if (length == 24 && ((record->subCode >> 16) & 0xFF) == 1) onNotice(body);
      break;
    default:
      break;
  }
  return kHandled;
}

void CViewerDlg::onAuthResult(const ReplyRecord& record, int16_t status) {
  if (status == 1) {
    switch (record.kind) {
      case kReplyFromControl:
        sendOrder(record.index, REQ_INFOPRODUCTINFO, 0);
        break;
      case kReplyFromStream:
        liveClosePending_ = false;
        if (client_) client_->requestLiveSetup();
        break;
      case kReplyFromAudio:
        if (!client_) break;
        // Audio switched off while its connection was logging in: close it, don't start it.
        if (!audioOn_) {
          client_->requestAudioClose();
          client_->closeAudio();
        } else {
          client_->requestAudioStart(0xFFFFFFFF);
        }
        break;
      default:
        break;
    }
    return;
  }

  const uint64_t session = record.session;
  const QString text = loginRefusalText(status);
  // The box waits for the user: no connect or switch timeout may end the session under it.
  killTimer(timers::kConnectTimeout);
  killTimer(timers::kSwitchTimeout);
  if (!text.isEmpty()) showMessage(text);
  // The box runs its own event loop: the client may have gone meanwhile.
  if (!client_ || (session != 0 && client_->session() != session)) return;
  if (client_->disconnectControl() == 0) return;
  notifySessionEnding(SessionEnd::LoginRefused, status);
  resetControlsAfterTeardown();
  setStatusText(QString());
  endSession();
  // The next Connect starts afresh: a refusal after a channel was shown (the audio login) would
  // otherwise leave a switch's state behind and skip "Connected.".
  idle_ = true;
  dvrLeft_ = false;
}

void CViewerDlg::onNotice(const uint8_t* body) {
  const uint8_t type = body[3];
  const QString actor = readBe32(body + 8) != 0 ? QStringLiteral("user") : QStringLiteral("admin");
  switch (type) {
    case 2:
      dvrLeft_ = true;
      setStatusText(QStringLiteral("%1 Power off").arg(addressText()));
      notifyDesktop(statusText_, desktop::Urgency::Critical);
      break;
    case 3:
      dvrLeft_ = true;
      setStatusText(QStringLiteral("%1 entered into DVR Setup").arg(actor));
      notifyDesktop(statusText_, desktop::Urgency::Normal);
      break;
    case 4:
      setStatusText(QStringLiteral("%1 get out of DVR Setup").arg(actor));
      notifyDesktop(statusText_, desktop::Urgency::Normal);
      break;
    default:
      return;
  }
  repaintWindow(false);
}

void CViewerDlg::onLiveSetup(uint16_t status) {
  if (status != 1) {
    disableChannelButtons();
    return;
  }
  if (!client_) return;
  setControlEnabled(ctl::kConnect, false);
  setControlEnabled(ctl::kDisconnect, true);
  enableChannelButtons();
  if (idle_) {
    killTimer(timers::kConnectTimeout);
    killTimer(timers::kSwitchTimeout);
    setStatusText(QStringLiteral("%1 Connected.").arg(addressText()));
    repaintWindow(false);
    connectDialog_->saveConnection();
    connected_ = true;
    updateScreenSaver();
    if (onConnected) onConnected();
    return;
  }
  if (client_->requestLiveStart(channelMask(selectedChannel_)) != 1) requestFailure(false);
}

void CViewerDlg::onLiveClose(uint16_t status) {
  if (status != 1) {
    showMessage(errorText("RSP_LIVECLOSE"));
    return;
  }
  if (!client_) return;
  // Which close this answers is the orderly disconnect's own flag; idle only tells a first
  // preparation from a switch.
  if (!disconnecting_) {
    // A channel switch: the old live-stream connection goes before the new one is asked for,
    // whether or not the DVR closed it already.
    // The old connection's end may still be reported; it stays expected until the new one has
    // logged in.
    client_->closeStream();
    if (client_->requestLiveOpen() != 1) requestFailure(false);
    return;
  }
  if (client_->closeStream() >= 0 && client_->requestDisconnect() != 1) {
    // The DVR can't be told any more: finish here rather than wait for a reply that can't come.
    disconnecting_ = false;
    onDisconnectCommand();
  }
}

void CViewerDlg::onDisconnectReply(uint16_t status) {
  if (status != 1 || !client_ || client_->disconnectControl() == 0) return;
  notifySessionEnding(SessionEnd::UserDisconnect);
  resetControlsAfterTeardown();
  setStatusText(QStringLiteral("%1 Disconnected.").arg(addressText()));
  endSession();
}

void CViewerDlg::onPtzControlReply(const uint8_t* body, uint32_t length) {
  std::array<uint8_t, 70> buffer{};
  std::memcpy(buffer.data(), body, std::min<size_t>(buffer.size(), length));
  if (statusOf(buffer.data()) == 0) return;
  const uint8_t reason = buffer[68];
  if (reason != 0 && reason != 9 && reason != 21) return;
  display_.GXSuspend();
  displayReady_ = false;
  showMessage(kCameraBusy, true);
  displayReady_ = true;
  display_.GXResume();
}
