#pragma once
// Video timestamps for RTSP from the frames' arrival. Frames that the network or the DVR bunched
// together would get timestamps a few milliseconds apart, which players and muxers that assume a
// steady rate round onto the same tick ("non monotonically increasing dts"). So a picture's
// timestamp is its arrival, but never closer to the previous one than 95 % of the
// channel's mean frame interval: a burst is spread out and the timestamps catch up with the
// arrivals at the next gap. Pure logic; one thread.
#include <cstdint>

class CFrameInterval {
 public:
  // The mean interval between arrivals (ns), 0 until two frames came.
  void arrived(int64_t arrivalNs);
  int64_t meanNs() const { return mean_; }

 private:
  int64_t last_ = -1;
  int64_t mean_ = 0;
};

// The timestamp for a picture that arrived at arrivalNs after one stamped lastNs (-1 for none).
int64_t pacedTimestamp(int64_t arrivalNs, int64_t lastNs, int64_t meanIntervalNs);
