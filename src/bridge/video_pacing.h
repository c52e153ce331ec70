#pragma once
// Video timestamps for RTSP from the frames' arrival. Frames that the network or the DVR bunched
// together would get timestamps a few milliseconds apart, which players and muxers that assume a
// steady rate round onto the same tick ("non monotonically increasing dts"). So a picture's
// timestamp is its arrival, but at least the channel's mean frame interval after the previous
// one: a burst is spread out. The stamps then run up to 200 ms behind the arrivals; beyond that
// the steps shrink to half the interval until they are back within it. Pure logic; one thread.
#include <cstdint>
#include <deque>

// The mean interval between arrivals over the last two seconds: frames over time, so a burst
// after a stall doesn't make the rate look higher than the sender's.
class CFrameInterval {
 public:
  void arrived(int64_t arrivalNs);
  int64_t meanNs() const { return mean_; }  // 0 until two frames came

 private:
  std::deque<int64_t> window_;
  int64_t mean_ = 0;
};

// The timestamp for a picture that arrived at arrivalNs after one stamped lastNs (-1 for none).
int64_t pacedTimestamp(int64_t arrivalNs, int64_t lastNs, int64_t meanIntervalNs);
