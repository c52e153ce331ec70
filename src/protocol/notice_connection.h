#pragma once
// The notice connection: a second connection to the DVR's control port, logged in with a fixed
// account, on which the DVR pushes EVT_NOTICE. Notices go to the main window through the queue.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/message_window.h"
#include "protocol/message_header.h"
#include "protocol/socket_channel.h"

class ReplyQueue;

class CNoticeConnection : public ISocketOwner {
 public:
  CNoticeConnection();
  ~CNoticeConnection() override;

  // 1, or 0 when the window isn't live, the index is negative or the queue is null. Notices are
  // queued under session.
  int attach(int32_t index, WindowId window, ReplyQueue* queue, uint64_t session = 0);
  // 1 when the channel started; 0 while it runs or for an empty address.
  int connect(std::string_view address, uint32_t port);
  // 1 when the channel isn't running; else the channel's close result.
  int disconnect();

  CSocketChannel& channel() { return channel_; }

  // Channel callbacks (receive thread).
  void onConnectResult(int error) override;
  bool channelReceiveStep() override;
  void onChannelError() override;

 private:
  CSocketChannel channel_{ChannelVariant::Notice};
  WindowId window_ = kNoWindow;  // set by attach, before the channel starts
  ReplyQueue* queue_ = nullptr;  // set by attach
  int32_t index_ = -1;           // set by attach
  uint64_t session_ = 0;         // set by attach
  // Receive thread only.
  std::array<uint8_t, MessageHeader::kSize> header_{};
  std::unique_ptr<uint8_t[]> body_;
};
