#include "protocol/notice_connection.h"

#include "protocol/command_codes.h"
#include "protocol/frame_reader.h"
#include "protocol/message_sending.h"
#include "protocol/reply_queue.h"

CNoticeConnection::CNoticeConnection() = default;

CNoticeConnection::~CNoticeConnection() {
  channel_.close();
}

int CNoticeConnection::attach(int32_t index, WindowId window, ReplyQueue* queue, uint64_t session) {
  if (!platform::isWindow(window) || index < 0 || queue == nullptr) return 0;
  window_ = window;
  queue_ = queue;
  index_ = index;
  session_ = session;
  channel_.setOwner(this);
  return 1;
}

int CNoticeConnection::connect(std::string_view address, uint32_t port) {
  if (channel_.isRunning() || address.empty()) return 0;
  return channel_.connect(address, port);
}

int CNoticeConnection::disconnect() {
  if (!channel_.isRunning()) {
    channel_.close();  // joins a thread that has ended but not been joined yet
    return 1;
  }
  return channel_.close();
}

void CNoticeConnection::onConnectResult(int /*error*/) {}

void CNoticeConnection::onChannelError() {
  channel_.close();
}

bool CNoticeConnection::channelReceiveStep() {
  if (!channel_.isRunning()) return false;
  uint32_t length = 0;
  const FrameRead read = readAllocatedMessage(channel_, header_, body_, &length);
  if (read == FrameRead::Absurd) channel_.failConnection();  // closes this connection
  if (read == FrameRead::Failed || read == FrameRead::Absurd) return false;
  if (read == FrameRead::Ready) {
    const uint32_t command = MessageHeader::parse(header_)->command;
    switch (command) {
      case EVT_NOTICE:
        if (queue_ != nullptr)
          queue_->post(index_, header_.data(), body_.get(), kReplyFromControl, session_);
        break;
      case REQ_AUTHLOGIN:
        sendLoginInTwoParts(channel_, kNoticeUserId, kNoticePassword);
        break;
      default:  // RSP_AUTHRESULT and anything else: the fixed account's login isn't checked
        break;
    }
  }
  body_.reset();
  header_.fill(0);
  return true;
}
