#pragma once
// The client's whole conversation with one DVR: the control connection with its requests and
// receive loop, the connection state, and the notice, live-stream and audio sub-connections.
//
// Threads: requests, attach, connect and disconnect run on the UI thread. The channel callbacks,
// the immediate answers (login, alive check) and the opening of the live-stream and audio
// connections run on the control receive thread. Replies reach the main window only through the
// ReplyQueue; messages 2041 and 2042 are posted.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "platform/message_window.h"
#include "protocol/audio_connection.h"
#include "protocol/connection_state.h"
#include "protocol/message_header.h"
#include "protocol/notice_connection.h"
#include "protocol/socket_channel.h"
#include "protocol/stream_connection.h"

class ICodecFrameSink;
class IJpegFrameSink;
class IAudioSink;
class ILiveFrameRouter;
class ReplyQueue;

class CDvrClient : public ISocketOwner {
 public:
  CDvrClient();
  ~CDvrClient() override;
  CDvrClient(const CDvrClient&) = delete;
  CDvrClient& operator=(const CDvrClient&) = delete;

  // 1, or 0 when the window isn't live, the index is negative or the queue is null. Resets the
  // state.
  int attach(int32_t index, WindowId window, ReplyQueue* queue);
  // 1 when all three sub-connections accepted their parts. The renderer and the player may be
  // null (JPEG frames, audio blocks dropped).
  int attachSubConnections(ICodecFrameSink* decoder, IJpegFrameSink* renderer, IAudioSink* player);
  // The same for a client whose live stream pulls many channels through router (see
  // CStreamConnection::initRouted). Such a client also reports its connect result and link loss
  // (2041, 2042) to its own window only, never to the application's main window, so several
  // clients can live beside the main window's own.
  int attachRouted(ILiveFrameRouter* router, IAudioSink* player);

  // 1 when the control channel started; 0 while it runs, for an empty address or port 0. address
  // is a host name or a dotted address: the name is resolved on the control thread (the last
  // IPv4 address listed wins; an unresolvable name is a failed connect, 2041 with -1), never on
  // the caller's. The state's address becomes the dotted one, which the notice, live-stream and
  // audio connections use.
  int connectControl(std::string_view address, uint16_t port);
  // Before connectControl: when nothing at all arrives on the control connection for ms
  // milliseconds (the DVR sends REQ_ALIVECHECK every few seconds), the link counts as lost
  // (2042). 0: never. Default kDefaultLinkTimeoutMs.
  static constexpr int kDefaultLinkTimeoutMs = 20000;
  void setLinkTimeoutMs(int ms) { linkTimeoutMs_ = ms > 0 ? ms : 0; }
  // Stops the control and notice connections in any state (connecting, logging in, running);
  // posts nothing. 1, or 0 when the state said connected but the channel had no receive thread.
  int disconnectControl();

  // Sub-connections. The opens give S_DONE or E_FAIL (refused while that connection runs). The
  // closes stop the connection in any state and post nothing; they return S_DONE.
  int32_t openStream(std::string_view address, uint32_t port, std::string_view userId,
                     std::string_view password);
  int32_t closeStream();
  int32_t openAudio(std::string_view address, uint32_t port, std::string_view userId,
                    std::string_view password);
  // Also makes a later RSP_AUDIOOPEN open nothing until the next requestAudioOpen.
  int32_t closeAudio();

  // Requests: 0 (nothing sent) while not connected; 1 when sent, 0 when the send failed;
  // E_FAIL when the message couldn't be built.
  int32_t requestProductInfo();
  int32_t requestPtzActiveCam();
  int32_t requestConfigSet(bool flag);
  int32_t requestQosResolution(uint32_t value, uint8_t byte);
  int32_t requestLiveOpen();
  int32_t requestLiveSetup();
  int32_t requestLiveStart(uint32_t channelMask);
  int32_t requestLiveClose();  // only while the live stream runs; clears the live mask
  int32_t requestPtzControl(uint8_t channel, uint8_t command, uint8_t value);
  int32_t requestDisconnect();
  int32_t requestAudioOpen();  // lets the next RSP_AUDIOOPEN open the audio connection
  int32_t requestAudioStart(uint32_t mask);
  int32_t requestAudioChannel(uint32_t number);
  int32_t requestAudioSelect(uint32_t channelMask);
  int32_t requestAudioStop(uint32_t mask);
  int32_t requestAudioClose();  // only while the audio connection runs

  ConnectionState& state() { return state_; }
  const ConnectionState& state() const { return state_; }
  CNoticeConnection& notice() { return notice_; }
  CStreamConnection& stream() { return stream_; }
  CAudioConnection& audio() { return audio_; }
  CSocketChannel& controlChannel() { return channel_; }
  int32_t index() const { return index_; }
  // Process-unique and non-zero, fixed at construction; every ReplyRecord of this client's
  // connections carries it.
  uint64_t session() const { return session_; }
  // Posted messages carry no session; the window checks these before acting on one. Set before
  // the message is posted, cleared by connectControl.
  bool connectFailed() const { return connectFailed_.load(); }  // before a negative 2041
  bool linkLost() const { return linkLost_.load(); }            // before 2042

  // Control channel callbacks (receive thread; onChannelError also from a failed request).
  void onConnectResult(int error) override;
  bool channelReceiveStep() override;
  void onChannelError() override;

 private:
  int32_t sendRequest(uint32_t command, std::span<const uint8_t> body = {});
  void dispatch(uint32_t command, uint32_t length);
  void passOn();
  void onLiveOpen(uint32_t length);
  void onAudioOpen(uint32_t length);
  int32_t openAudioLocked(std::string_view address, uint32_t port, std::string_view userId,
                          std::string_view password);  // audioLifecycle_ held

  const uint64_t session_;
  ConnectionState state_;
  CNoticeConnection notice_;
  CAudioConnection audio_;
  CStreamConnection stream_;
  WindowId window_ = kNoWindow;  // set by attach
  CSocketChannel channel_{ChannelVariant::Control};
  ReplyQueue* queue_ = nullptr;                            // set by attach
  int32_t index_ = -1;                                     // set by attach
  bool ownWindowOnly_ = false;                             // set by attach and attachRouted
  std::atomic<int> linkTimeoutMs_{kDefaultLinkTimeoutMs};  // UI thread
  std::atomic<bool> connectFailed_{false};  // control receive thread sets, UI thread reads
  std::atomic<bool> linkLost_{false};       // whichever thread lost the link sets, UI reads
  // Audio open (control thread) against audio close (UI thread): never interleaved. Never held
  // while waiting for the control thread.
  std::mutex audioLifecycle_;
  std::atomic<bool> audioClosed_{false};  // closeAudio sets, requestAudioOpen clears
  // Receive thread only.
  std::array<uint8_t, MessageHeader::kSize> header_{};
  std::unique_ptr<uint8_t[]> body_;
};
