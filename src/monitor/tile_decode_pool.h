#pragma once
// Decodes live frames into tile pictures off the UI thread: each channel's frames in arrival
// order, channels spread over a few worker threads, each picture decoded at the smallest JPEG
// scale that still covers its tile and scaled smoothly to the tile (aspect ratio kept,
// letterboxed, true colour). A tile keeps only its newest picture.
#include <QImage>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "session/session_listener.h"

struct TilePicture {
  uint8_t channel = 0;
  uint64_t sequence = 0;  // LiveFrame::sequence of the frame it came from
  // Format_RGB32, exactly the tile's size, letterboxed; a JPEG picture smaller than its place in
  // the tile comes as decoded instead, for the tile to scale up as it paints it.
  QImage image;
  QSize sourceSize;                               // the DVR's picture size
  std::chrono::steady_clock::time_point arrival;  // of the frame it came from
};

struct TileDecodeStats {
  uint64_t submitted = 0;  // frames handed in for channels with a tile
  uint64_t decoded = 0;    // pictures made
  uint64_t skipped = 0;    // frames dropped unseen because a newer one of the channel waited
  uint64_t failed = 0;     // frames that did not decode
  uint64_t replaced = 0;   // pictures replaced by a newer one before they were taken
  uint64_t decodeNs = 0;   // thread CPU time in decoding
  uint64_t scaleNs = 0;    // thread CPU time in scaling
  // JPEG pictures decoded at 1/1, 1/2, 1/4 and 1/8 of their size.
  uint64_t jpegAtScale[4] = {};
};

class CTileDecodePool {
 public:
  // threads 0: one per core.
  explicit CTileDecodePool(int threads = 0);
  ~CTileDecodePool();  // joins the workers
  CTileDecodePool(const CTileDecodePool&) = delete;
  CTileDecodePool& operator=(const CTileDecodePool&) = delete;

  // Any thread. Called from a worker after a channel's picture changed; the owner posts one
  // wake-up to its UI thread from it (nothing heavy, never blocks). It may run until the
  // destructor has joined the workers.
  void setPictureReady(std::function<void(uint8_t channel)> ready);

  // Any thread. Told after every frame handed in whether its channel is behind (a frame of it
  // waits or is being decoded), and when the channel has caught up again (its last frame
  // decoded, or dropped). The owner fetches no frame of a channel that is behind, so frames
  // that would only be dropped unseen are not fetched at all. Called with the pool's lock held:
  // it must be quick and must not call the pool. After setBacklog returns, the previous function
  // is no longer running and won't be called again.
  void setBacklog(std::function<void(uint8_t channel, bool behind)> backlog);

  // UI thread: the size channel's tile has now; an empty size means no tile shows it (its
  // frames are dropped and its decoder state freed).
  void setTileSize(uint8_t channel, QSize size);

  // Any thread (the live-stream thread): copies the frame and queues it for its channel.
  void submit(const LiveFrame& frame);

  // UI thread: the newest picture of channel, once per new picture.
  std::optional<TilePicture> takePicture(uint8_t channel);

  // Drops every queued frame and picture and every channel's decoder state (a new session).
  void reset();

  TileDecodeStats stats() const;

  // Waits until no frame is queued or being decoded; false on timeout. For tests and benchmarks.
  bool waitIdle(std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
