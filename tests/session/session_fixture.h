#pragma once
// A live session against the in-process DVR emulator, with a listener that records everything.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dvr_emulator.h"
#include "session/live_session.h"

class CRecordingListener final : public ISessionListener {
 public:
  static constexpr size_t kChannels = 16;

  void onPhaseChanged(SessionPhase phase, const std::string& statusText) override {
    phases.emplace_back(phase, statusText);
  }
  void onDvrInfo(const DvrInfo& info) override { dvrInfo = info; }
  void onChannelsChanged(uint32_t runningMask, uint32_t refusedMask) override {
    channels.emplace_back(runningMask, refusedMask);
  }
  void onNotice(const std::string& statusText) override { notices.push_back(statusText); }
  void onMessage(const std::string& text) override { messages.push_back(text); }
  void onEnded(SessionEnd reason, const std::string& statusText) override {
    ended = std::make_pair(reason, statusText);
  }
  void onFrame(const LiveFrame& frame) override;

  uint64_t frames(uint8_t channel) const { return frameCounts[channel].load(); }
  // The first JPEG frame of channel (its frame header first); empty until one came.
  std::vector<uint8_t> firstJpeg(uint8_t channel) const;
  // Frames whose sequence didn't follow their channel's previous one, or whose header named a
  // channel other than the one delivered.
  int faults() const { return faultCount.load(); }

  // Owner's thread.
  std::vector<std::pair<SessionPhase, std::string>> phases;
  std::optional<DvrInfo> dvrInfo;
  std::vector<std::pair<uint32_t, uint32_t>> channels;
  std::vector<std::string> notices;
  std::vector<std::string> messages;
  std::optional<std::pair<SessionEnd, std::string>> ended;

 private:
  // Stream thread.
  std::array<std::atomic<uint64_t>, kChannels> frameCounts{};
  std::array<uint64_t, kChannels> lastSequence{};
  std::atomic<int> faultCount{0};
  mutable std::mutex mutex_;  // guards jpegs_
  std::array<std::vector<uint8_t>, kChannels> jpegs_;
};

// The emulator on a free loopback port, account demo/demo, 25 frames a second per channel.
class CTestDvr {
 public:
  explicit CTestDvr(const std::vector<std::string>& options = {});
  ~CTestDvr();
  uint16_t port() const { return emulator_->port(); }
  dvremu::DvrEmulator& emulator() { return *emulator_; }
  std::string command(const std::string& line) { return emulator_->execute(line); }
  // Open connections of a kind ("control", "live", ...).
  int connections(dvremu::ConnectionKind kind);

 private:
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
};

SessionTarget targetFor(const CTestDvr& dvr, const std::string& password = "demo");
bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000);
