#pragma once
// The audio connection: logs in when the DVR asks, passes the login verdict on, and feeds every
// audio block to the player, switching it between G.726 and 3-bit ADPCM as the blocks demand.
// Messages are assembled one read at a time in a fixed buffer of one header and 5120 body bytes.
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

class CDvrClient;
class IAudioSink;
class ReplyQueue;

class CAudioConnection : public ISocketOwner {
 public:
  static constexpr int32_t kMaxBodySize = 5120;
  static constexpr int32_t kBufferSize = MessageHeader::kSize + kMaxBodySize;  // 5137
  // Longer bodies are skipped; a length above this closes the connection.
  static constexpr uint32_t kSanityBound = 4 * kMaxBodySize;
  static constexpr uint32_t kBlockPrefixSize = 16;
  static constexpr uint32_t kMaxG726Payload = 1024;  // 4 PCM bytes per byte fill a 4096-byte block
  static constexpr uint32_t kMaxAdpcmPayload = 768;  // 8/3 samples of 2 bytes per byte

  CAudioConnection();
  ~CAudioConnection() override;

  // 1, or 0 when the window isn't live, the index is negative, or client or queue is null, or the
  // buffer can't be allocated. A null player is accepted: audio blocks are then dropped. Replies
  // are queued under session.
  int attach(int32_t index, WindowId window, IAudioSink* player, CDvrClient* client,
             ReplyQueue* queue, uint64_t session = 0);
  // S_DONE when the receive thread was started; E_FAIL when connected already, before attach,
  // for empty credentials or a refused connect.
  int32_t open(std::string_view address, uint32_t port, std::string_view userId,
               std::string_view password);
  // Stops the connection in any state (connecting, logging in, running), joins its thread and
  // resets the receive state. S_DONE: stopping can't fail. Not concurrently with open().
  int32_t close();

  // Back to idle: expected 17, filled 0, buffer and credentials zeroed. Called on the receive
  // thread after a read error, and by the control connection (another thread) when the DVR
  // confirms RSP_AUDIOCLOSE; the buffer is then reset by the receive thread before its next read,
  // or by close().
  void resetReceiveState();

  // One read; S_DONE to keep going, E_FAIL when the read failed. S_DONE without reading when
  // not connected.
  int32_t receiveStep();

  bool isConnected() const { return channel_.isRunning(); }
  int32_t expected() const { return expected_.load(); }
  int32_t filled() const { return filled_.load(); }
  CSocketChannel& channel() { return channel_; }

  // Channel callbacks.
  void onConnectResult(int error) override;
  bool channelReceiveStep() override;
  void onChannelError() override;

 private:
  void resetBuffer();
  void finishMessage();
  int32_t dispatch();
  int32_t playBlock(bool g726, const uint8_t* body, uint32_t length);
  void clearCredentials();

  CSocketChannel channel_{ChannelVariant::Audio};
  // Set by attach, before any thread runs.
  WindowId window_ = kNoWindow;
  IAudioSink* player_ = nullptr;
  CDvrClient* client_ = nullptr;
  ReplyQueue* queue_ = nullptr;
  int32_t index_ = -1;
  uint64_t session_ = 0;
  std::unique_ptr<uint8_t[]> rx_;  // kBufferSize bytes; receive thread only while it runs

  // Receive thread only while it runs (reset by close after the join).
  std::atomic<int32_t> expected_{MessageHeader::kSize};
  std::atomic<int32_t> filled_{0};
  std::atomic<uint64_t> discardLeft_{0};     // bytes of an oversized body still to throw away
  std::atomic<bool> resetRequested_{false};  // set by another thread, applied by the receive one

  mutable std::mutex credentialsMutex_;
  std::string userId_, password_;
};
