#pragma once
// What the client knows about one DVR connection. Written by the UI thread (the strings before
// the connection starts, the masks and model information during it) and read by the control
// receive thread (credentials for the logins, the connected flag for alive checks), so the words
// are atomic and the strings are guarded by a mutex.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

struct ModelInfo {
  uint16_t first = 0;
  uint16_t second = 0;
  bool operator==(const ModelInfo&) const = default;
};

class ConnectionState {
 public:
  ConnectionState() { reset(); }
  virtual ~ConnectionState();  // the password's bytes are wiped

  // Text setters refuse (0) an empty text and keep the previous value; else 1. Texts are UTF-8;
  // on the wire they are cut to their fields.
  int setUserId(std::string_view text);
  int setPassword(std::string_view text);
  int setAddress(std::string_view text);
  int setDisplayName(std::string_view text);
  std::string userId() const;
  std::string password() const;
  std::string address() const;
  std::string displayName() const;

  // 0 is refused.
  int setPort(uint16_t port);
  uint16_t port() const { return port_.load(); }

  // Both refuse a zero argument.
  int setLiveMaskBits(uint32_t bits);
  int clearLiveMaskBits(uint32_t bits);
  void clearLiveMask() { liveMask_ = 0; }
  uint32_t liveMask() const { return liveMask_.load(); }

  void setConnected(bool connected) { connected_ = connected; }
  bool connected() const { return connected_.load(); }

  // Ors bits in; 0 clears all.
  void orLiveFlags(uint32_t bits);
  uint32_t liveFlags() const { return liveFlags_.load(); }

  void setModelInfo(ModelInfo info);
  ModelInfo modelInfo() const;

  // Values the main window keeps with the connection without the protocol acting on them.
  void setOption1(uint8_t v) { option1_ = v; }
  uint8_t option1() const { return option1_.load(); }
  void setOption2(uint8_t v) { option2_ = v; }
  uint8_t option2() const { return option2_.load(); }
  void setNameIsAddress(bool v) { nameIsAddress_ = v; }
  bool nameIsAddress() const { return nameIsAddress_.load(); }
  void setVideoStandard(uint8_t v) { videoStandard_ = v; }
  uint8_t videoStandard() const { return videoStandard_.load(); }

  // Zero every word and empty every text.
  void reset();

 private:
  mutable std::mutex textMutex_;  // guards the four texts
  std::string userId_, password_, address_, displayName_;
  std::atomic<uint16_t> port_{0};
  std::atomic<uint32_t> liveMask_{0};
  std::atomic<bool> connected_{false};
  std::atomic<uint32_t> liveFlags_{0};
  std::atomic<uint32_t> modelInfo_{0};  // first in the high half, second in the low half
  std::atomic<uint8_t> option1_{0}, option2_{0}, videoStandard_{0};
  std::atomic<bool> nameIsAddress_{false};
};
