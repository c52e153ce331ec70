#pragma once
// The newest JPEG picture of every channel, shared by all HTTP clients. A picture is published
// once (by the stream thread, or the MPEG-4 transcoder) and handed out by reference: a client
// holds at most the one picture it is sending, so a slow client costs one picture of memory and
// never holds up the publisher or other clients. Clients that can't keep up get the newest
// picture when they are ready; the pictures they missed are counted as skipped.
//
// Thread-safe.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct Picture {
  std::vector<uint8_t> jpeg;  // one complete JPEG image
  uint64_t sequence = 0;      // per channel, from 1
  std::chrono::steady_clock::time_point arrival;
};
using PicturePtr = std::shared_ptr<const Picture>;

struct ChannelCounters {
  uint64_t picturesIn = 0;   // published
  uint64_t picturesOut = 0;  // sent to clients, summed over clients
  uint64_t skipped = 0;      // published but never sent to a client that was watching
  int clients = 0;
};

class CFrameHub {
 public:
  static constexpr size_t kChannels = 16;

  // Takes the picture's bytes; its sequence and arrival are set here.
  void publish(uint8_t channel, std::vector<uint8_t> jpeg,
               std::chrono::steady_clock::time_point arrival);
  PicturePtr newest(uint8_t channel) const;
  // The newest picture once its sequence is above after; null on timeout or after stop().
  PicturePtr waitNewer(uint8_t channel, uint64_t after, std::chrono::milliseconds timeout);

  void addClient(uint8_t channel);
  // A client left; lastSent is the sequence of the last picture it was sent (0: none). What was
  // published after that counts as skipped for it: a client stuck in a write and then gone
  // missed those pictures too.
  void removeClient(uint8_t channel, uint64_t lastSent = 0);
  // A client sent picture; the pictures between lastSent and it were skipped for that client.
  void countSent(uint8_t channel, uint64_t lastSent, uint64_t sent);

  // A snapshot was asked for: the channel counts one more client for kSnapshotWatch, so a
  // client that polls snapshots keeps its channel pulled like a stream client does.
  void noteSnapshot(uint8_t channel);
  static constexpr std::chrono::milliseconds kSnapshotWatch{1000};

  ChannelCounters counters(uint8_t channel) const;
  // Per channel: its stream clients, plus one after a recent snapshot (what decides the pull).
  std::array<int, kChannels> clients() const;

  // Wakes every waiter for good (shutdown).
  void stop();
  bool stopped() const { return stopped_.load(); }

 private:
  struct Slot {
    mutable std::mutex mutex;
    std::condition_variable changed;
    PicturePtr newest;
    ChannelCounters counters;
    std::chrono::steady_clock::time_point lastSnapshot;
  };
  std::array<Slot, kChannels> slots_;
  std::atomic<bool> stopped_{false};
};
