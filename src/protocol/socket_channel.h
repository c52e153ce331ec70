#pragma once
// One TCP client socket and the receive thread that connects it and runs its owner's receive
// steps. The same class serves the control, notice, live-stream and audio connections; they
// differ only in socket buffer sizes and in what their owner does on the callbacks.
//
// Threads: the receive thread alone calls receive() and the owner's onConnectResult and
// channelReceiveStep. send() may be called from any thread; a per-socket mutex keeps every message
// in one piece. close() may be called from any thread, including the receive thread itself (it then
// only stops the loop; the thread finishes on its own and is joined by the next close, connect
// or the destructor). The receive thread must never wait for the UI thread (owners post to
// windows, they never send): close() on the UI thread joins it without handling window messages.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

enum class ChannelVariant { Control, Notice, Stream, Audio };

class ISocketOwner {
 public:
  virtual ~ISocketOwner() = default;
  // On the receive thread: 0 once the TCP connection is up (running is set by then), else the
  // errno of the failed connect. Not called for a connect aborted by close().
  virtual void onConnectResult(int error) = 0;
  // On the receive thread, repeated while running: false ends the thread.
  virtual bool channelReceiveStep() = 0;
  // A read or write failed while running. Called at most once per connection, on the thread whose
  // send or receive failed; running is already clear.
  virtual void onChannelError() = 0;
};

class CSocketChannel {
 public:
  static constexpr size_t kAddressSize = 260;

  explicit CSocketChannel(ChannelVariant variant);
  virtual ~CSocketChannel();
  CSocketChannel(const CSocketChannel&) = delete;
  CSocketChannel& operator=(const CSocketChannel&) = delete;

  // 0 for a null owner, else 1. Owners set themselves once, before the first connect.
  int setOwner(ISocketOwner* owner);

  // Starts the receive thread, which resolves address (a host name or dotted IPv4; a name with
  // several addresses connects to the last one listed) and connects to it. 1 when started, 0
  // when refused: empty or over-long address, low 16 bits of port zero, no socket, no thread.
  // A name that can't be resolved is a failed connect (EHOSTUNREACH). Once resolved, address()
  // gives the dotted form. A channel that still has a connection is reset first.
  int connect(std::string_view address, uint32_t port);

  // For the next connect: when nothing at all arrives for ms milliseconds, a read fails as if
  // the peer had gone (the owner's onChannelError runs). 0, the default, waits for ever.
  void setReceiveTimeoutMs(int ms);

  // Like connect, for a socket that is connected already (an accepted socket or one end of a
  // socketpair); the channel takes ownership of fd. Used by tests and fuzzers.
  int adoptConnectedSocket(int fd);

  // Stops the connection. 1 when there was a live receive thread, else 0. From another thread it
  // returns after the receive thread has ended and the channel has been reset; from the receive
  // thread it returns at once and the thread resets the channel on its way out.
  int close();

  // Sends all length bytes (one message) under the send lock. False for no data, no socket or a
  // failed send; a failed send runs the error action.
  bool send(const uint8_t* data, size_t length, size_t* accepted = nullptr);

  // One recv on the receive thread. True with *received > 0, false when the peer closed the
  // connection or the read failed (the error action has then run).
  bool receive(uint8_t* buffer, size_t size, size_t* received);

  // On the receive thread, for input that can't belong to a sound peer: ends the connection as a
  // failed read does (the owner's onChannelError runs once, unless a close came first). The
  // receive step then returns false.
  void failConnection();

  bool isRunning() const { return running_.load(); }
  // True while a receive thread exists that hasn't finished.
  bool hasLiveThread() const;
  bool onReceiveThread() const;
  uint16_t port() const;
  std::string address() const;
  ChannelVariant variant() const { return variant_; }

 private:
  int start(std::string_view address, uint16_t port, int connectedFd);
  void threadMain(bool alreadyConnected);
  bool connectSocket(int fd, int* error);  // resolves the address first
  void errorAction();
  void shutdownSocket();
  void resetConnection();  // closes the socket, clears port and address
  void stopAndJoin();      // lifecycleMutex_ held, never on the receive thread

  const ChannelVariant variant_;
  std::atomic<ISocketOwner*> owner_{nullptr};
  std::atomic<bool> running_{false};         // connected and looping
  std::atomic<bool> stopRequested_{false};   // close() asked the thread to end
  std::atomic<bool> finished_{true};         // the receive thread has left threadMain
  std::atomic<std::thread::id> threadId_{};  // id of the current receive thread
  std::atomic<int> receiveTimeoutMs_{0};     // set by the owner before connect

  std::mutex lifecycleMutex_;  // connect/close/destructor; never taken by the receive thread
  std::thread thread_;         // guarded by lifecycleMutex_

  std::mutex sendMutex_;        // one message at a time; held while the socket is closed
  mutable std::mutex fdMutex_;  // guards fd_, address_, port_
  int fd_ = -1;
  std::string address_;
  uint16_t port_ = 0;
};
