#include "protocol/dvr_client.h"

#include <atomic>

#include "platform/messages.h"
#include "platform/result_codes.h"
#include "protocol/message_sending.h"
#include "protocol/reply_queue.h"

namespace {

uint64_t nextSession() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

}  // namespace

CDvrClient::CDvrClient() : session_(nextSession()) {}

CDvrClient::~CDvrClient() {
  // The control thread calls into the sub-connections: it goes first.
  channel_.close();
  body_.reset();
  stream_.close();
  audio_.close();
  notice_.disconnect();
  // Every thread that posts for this client has ended: nothing of it may reach the window now.
  if (queue_ != nullptr) queue_->discardSession(session_);
}

int CDvrClient::attach(int32_t index, WindowId window, ReplyQueue* queue) {
  if (!platform::isWindow(window) || index < 0 || queue == nullptr) return 0;
  index_ = index;
  window_ = window;
  queue_ = queue;
  ownWindowOnly_ = false;
  state_.reset();
  channel_.setOwner(this);
  return 1;
}

int CDvrClient::attachSubConnections(ICodecFrameSink* decoder, IJpegFrameSink* renderer,
                                     IAudioSink* player) {
  if (!platform::isWindow(window_) || index_ < 0 || decoder == nullptr || queue_ == nullptr)
    return 0;
  const bool stream = stream_.init(index_, window_, decoder, renderer, queue_, session_);
  const bool audio = audio_.attach(index_, window_, player, this, queue_, session_) == 1;
  const bool notice = notice_.attach(index_, window_, queue_, session_) == 1;
  return stream && audio && notice ? 1 : 0;
}

int CDvrClient::attachRouted(ILiveFrameRouter* router, IAudioSink* player) {
  if (!platform::isWindow(window_) || index_ < 0 || router == nullptr || queue_ == nullptr)
    return 0;
  ownWindowOnly_ = true;
  const bool stream = stream_.initRouted(index_, window_, router, queue_, session_);
  const bool audio = audio_.attach(index_, window_, player, this, queue_, session_) == 1;
  const bool notice = notice_.attach(index_, window_, queue_, session_) == 1;
  return stream && audio && notice ? 1 : 0;
}

int CDvrClient::connectControl(std::string_view address, uint16_t port) {
  if (channel_.isRunning() || address.empty() || port == 0) return 0;
  connectFailed_ = false;
  linkLost_ = false;
  state_.setAddress(address);
  state_.setPort(port);
  channel_.setReceiveTimeoutMs(linkTimeoutMs_);
  return channel_.connect(address, port);
}

int CDvrClient::disconnectControl() {
  const bool wasConnected = state_.connected();
  // Stops the control thread in any state (connecting, logging in, running). It opens the notice
  // connection, so it is joined before the notice connection is closed.
  const int closed = channel_.close();
  notice_.disconnect();
  state_.setConnected(false);
  return wasConnected && closed == 0 ? 0 : 1;
}

int32_t CDvrClient::openStream(std::string_view address, uint32_t port, std::string_view userId,
                               std::string_view password) {
  if (stream_.isRunning()) return E_FAIL;
  return stream_.open(address, port, userId, password);
}

int32_t CDvrClient::closeStream() {
  return stream_.close();
}

int32_t CDvrClient::openAudio(std::string_view address, uint32_t port, std::string_view userId,
                              std::string_view password) {
  std::lock_guard lock(audioLifecycle_);
  return openAudioLocked(address, port, userId, password);
}

int32_t CDvrClient::openAudioLocked(std::string_view address, uint32_t port,
                                    std::string_view userId, std::string_view password) {
  if (audio_.isConnected()) return E_FAIL;
  return audio_.open(address, port, userId, password);
}

int32_t CDvrClient::closeAudio() {
  std::lock_guard lock(audioLifecycle_);
  audioClosed_ = true;  // an RSP_AUDIOOPEN still on its way opens nothing now
  return audio_.close();
}

void CDvrClient::onConnectResult(int error) {
  if (error == 0) {
    // The address the name resolved to: the other connections go to the same DVR.
    state_.setAddress(channel_.address());
    platform::postMessage(liveWindowOr(window_), msg::kControlConnectResult,
                          static_cast<uintptr_t>(index_), 0);
    state_.setConnected(true);
    notice_.connect(state_.address(), state_.port());
    return;
  }
  state_.setConnected(false);
  connectFailed_ = true;
  platform::postMessage(liveWindowOr(window_), msg::kControlConnectResult,
                        static_cast<uintptr_t>(index_), -1);
  if (ownWindowOnly_) return;
  // The channel's own report of the failure, to the application's main window.
  platform::postMessage(mainWindowOr(window_), msg::kControlConnectResult, 0, -1);
}

void CDvrClient::onChannelError() {
  notice_.disconnect();
  state_.setConnected(false);
  channel_.close();
  linkLost_ = true;
  platform::postMessage(ownWindowOnly_ ? window_ : mainWindowOr(window_), msg::kControlLinkLost,
                        static_cast<uintptr_t>(index_), 0);
}
