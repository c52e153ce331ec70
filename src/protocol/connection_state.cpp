#include "protocol/connection_state.h"

#include <cstring>

namespace {
int setText(std::mutex& mutex, std::string& field, std::string_view text) {
  if (text.empty()) return 0;
  std::lock_guard lock(mutex);
  field.assign(text);
  return 1;
}
}  // namespace

ConnectionState::~ConnectionState() {
  explicit_bzero(password_.data(), password_.size());
}

int ConnectionState::setUserId(std::string_view text) {
  return setText(textMutex_, userId_, text);
}
int ConnectionState::setPassword(std::string_view text) {
  return setText(textMutex_, password_, text);
}
int ConnectionState::setAddress(std::string_view text) {
  return setText(textMutex_, address_, text);
}
int ConnectionState::setDisplayName(std::string_view text) {
  return setText(textMutex_, displayName_, text);
}

std::string ConnectionState::userId() const {
  std::lock_guard lock(textMutex_);
  return userId_;
}
std::string ConnectionState::password() const {
  std::lock_guard lock(textMutex_);
  return password_;
}
std::string ConnectionState::address() const {
  std::lock_guard lock(textMutex_);
  return address_;
}
std::string ConnectionState::displayName() const {
  std::lock_guard lock(textMutex_);
  return displayName_;
}

int ConnectionState::setPort(uint16_t port) {
  if (port == 0) return 0;
  port_ = port;
  return 1;
}

int ConnectionState::setLiveMaskBits(uint32_t bits) {
  if (bits == 0) return 0;
  liveMask_.fetch_or(bits);
  return 1;
}

int ConnectionState::clearLiveMaskBits(uint32_t bits) {
  if (bits == 0) return 0;
  liveMask_.fetch_and(~bits);
  return 1;
}

void ConnectionState::orLiveFlags(uint32_t bits) {
  if (bits == 0)
    liveFlags_ = 0;
  else
    liveFlags_.fetch_or(bits);
}

void ConnectionState::setModelInfo(ModelInfo info) {
  modelInfo_ = (uint32_t{info.first} << 16) | info.second;
}

ModelInfo ConnectionState::modelInfo() const {
  const uint32_t packed = modelInfo_.load();
  return ModelInfo{static_cast<uint16_t>(packed >> 16), static_cast<uint16_t>(packed & 0xFFFF)};
}

void ConnectionState::reset() {
  {
    std::lock_guard lock(textMutex_);
    userId_.clear();
    explicit_bzero(password_.data(), password_.size());
    password_.clear();
    address_.clear();
    displayName_.clear();
  }
  port_ = 0;
  liveMask_ = 0;
  connected_ = false;
  liveFlags_ = 0;
  modelInfo_ = 0;
  option1_ = 0;
  option2_ = 0;
  videoStandard_ = 0;
  nameIsAddress_ = false;
}
