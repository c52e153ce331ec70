#pragma once
// The live-stream connection: logs in when the DVR asks, pulls frames one at a time for the
// selected channel and hands each to the codec decoder or the JPEG renderer. Decoding and drawing
// run on this connection's receive thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/message_window.h"
#include "protocol/message_header.h"
#include "protocol/socket_channel.h"

class ICodecFrameSink;
class IJpegFrameSink;
class ILiveFrameRouter;
class ReplyQueue;

// Offsets of the FrameHeader at the start of every frame.
inline constexpr uint8_t kFrameMarker = 0x01;
inline constexpr uint8_t kMaxFrameChannels = 16;

class CStreamConnection : public ISocketOwner {
 public:
  static constexpr uint32_t kBufferSize = 811008;  // 0xC6000: the largest body accepted
  // Longer bodies are skipped; a length above this ends the connection as a loss.
  static constexpr uint32_t kSanityBound = 4 * kBufferSize;
  static constexpr uint32_t kLiveFramePrefixSize = 6;

  CStreamConnection();
  ~CStreamConnection() override;

  // Stores the pointers and allocates the body buffer. False when the window isn't live, the
  // index is negative, or the decoder or the queue is missing. The renderer may be null (JPEG
  // frames are then consumed without drawing). Replies are queued under session.
  bool init(int32_t index, WindowId window, ICodecFrameSink* decoder, IJpegFrameSink* renderer,
            ReplyQueue* queue, uint64_t session = 0);

  // The same for a connection that pulls many channels: every RSP_LIVEFRAME and RSP_LIVEDATA goes
  // to router, which decides what to request next (requestFrameFor); nothing is decoded here,
  // no request follows a frame by itself, and a failed connect shows no message box.
  bool initRouted(int32_t index, WindowId window, ILiveFrameRouter* router, ReplyQueue* queue,
                  uint64_t session = 0);

  // S_DONE when the receive thread was started; E_FAIL while running, before init, or for an
  // empty user id or password.
  int32_t open(std::string_view address, uint32_t port, std::string_view userId,
               std::string_view password);
  // Stops the connection in any state (connecting, logging in, running) and joins its thread.
  // S_DONE: stopping can't fail. Posts nothing.
  int32_t close();

  // 0..15 selects, -1 stops further frame requests; anything else is refused.
  bool selectChannel(int32_t channel);
  // Sends one REQ_LIVEFRAME for the requested channel; false (nothing sent) when there is none.
  bool requestNextFrame();
  // Sends one REQ_LIVEFRAME for channel (0..15), whatever is selected; false when the channel is
  // out of range or the send failed. Any thread.
  bool requestFrameFor(uint8_t channel);

  // Read access for the main window.
  uint8_t codecMode() const { return codecMode_.load(); }
  int32_t requestedChannel() const { return requestedChannel_.load(); }
  bool isRunning() const { return channel_.isRunning(); }
  // True once the current connection ended without our own close (peer closed, read error,
  // failed connect, absurd length); set before 2051 is posted, cleared by open and close.
  bool lost() const { return lost_.load(); }
  // True when that loss was a connect that failed; set and cleared with lost().
  bool connectFailed() const { return connectFailed_.load(); }
  CSocketChannel& channel() { return channel_; }

  // Channel callbacks (receive thread, or the thread whose send failed for onChannelError).
  void onConnectResult(int error) override;
  bool channelReceiveStep() override;
  void onChannelError() override;

 private:
  void dispatch(uint32_t command, uint32_t length);
  void onLiveFrame(uint32_t length);
  void onLiveData(uint32_t length);
  void routeLiveFrame(uint32_t length);
  bool prepare(int32_t index, WindowId window, ReplyQueue* queue, uint64_t session);
  void clearState();
  void reportLoss();  // lost() set, then 2051 posted
  void sendLogin();

  CSocketChannel channel_{ChannelVariant::Stream};
  // Set by init, before any thread runs.
  WindowId window_ = kNoWindow;
  ICodecFrameSink* decoder_ = nullptr;
  IJpegFrameSink* renderer_ = nullptr;
  ILiveFrameRouter* router_ = nullptr;
  ReplyQueue* queue_ = nullptr;
  int32_t index_ = -1;
  uint64_t session_ = 0;
  // kBufferSize + kFrameReadSlack bytes; written only by the receive thread, freed after it ended.
  std::unique_ptr<uint8_t[]> body_;

  std::atomic<uint8_t> codecMode_{1};          // receive thread writes, UI thread reads
  std::atomic<int32_t> requestedChannel_{-1};  // UI thread writes, both read
  std::atomic<bool> connectFailed_{false};  // as lost_
  std::atomic<bool> lost_{false};  // the stream thread (or a failed send) sets, open/close clear

  std::array<uint8_t, MessageHeader::kSize> header_{};  // receive thread only

  mutable std::mutex credentialsMutex_;  // open (control thread) vs login and drop (stream thread)
  std::string userId_, password_;
};
