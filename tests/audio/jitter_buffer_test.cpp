// The jitter buffer's policy under a simulated clock: a sender of 200 ms blocks on its own
// schedule with chosen lateness, and a device pulling 20 ms at a time on its own.
#include "audio/jitter_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 8000;
constexpr size_t kBlock = 1600;  // 200 ms, as the DVR sends
constexpr size_t kPull = 160;    // 20 ms, as the device takes

// A 1 kHz tone that never goes quiet.
int16_t loud(size_t i) {
  return static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 1000.0 * double(i) / kRate));
}
// Speech-like: 120 ms of a 440 Hz tone, then 80 ms of silence.
int16_t withPauses(size_t i) {
  return (i % 1600) < 960 ? static_cast<int16_t>(
                                6000 * std::sin(2 * std::numbers::pi * 440.0 * double(i) / kRate))
                          : int16_t{0};
}

struct Scenario {
  double seconds = 60;
  double senderRate = 1.0;                // the sender's clock against the device's
  std::function<int64_t(int)> lateUs;     // lateness of block k
  std::function<int16_t(size_t)> signal;  // sample i of the stream
  std::function<bool(int)> lost;          // block k never arrives
};

struct Outcome {
  std::vector<int16_t> played;
  std::vector<int64_t> pullTimesUs;
  JitterBufferStats stats;
};

JitterBufferConfig plainConfig() {
  JitterBufferConfig config;
  config.outputLeadMs = 0;
  return config;
}

Outcome simulate(const Scenario& run, CJitterBuffer& buffer) {
  Outcome out;
  const auto periodUs = int64_t(200'000 / run.senderRate);
  const auto endUs = int64_t(run.seconds * 1e6);
  int block = 0;
  int64_t lastArrival = 0;
  int64_t nextPull = 0;
  std::vector<int16_t> samples(kBlock);
  int64_t arrival = -1;  // of the next block, once drawn
  for (;;) {
    if (arrival < 0) {
      // Blocks go out in order: a late one holds back none but itself.
      arrival = int64_t(block) * periodUs + (run.lateUs ? run.lateUs(block) : 0);
      arrival = std::max(arrival, lastArrival);
    }
    if (std::min(arrival, nextPull) >= endUs) break;
    if (arrival <= nextPull) {
      for (size_t i = 0; i < kBlock; ++i) samples[i] = run.signal(size_t(block) * kBlock + i);
      if (!run.lost || !run.lost(block)) buffer.push(samples.data(), kBlock, arrival);
      lastArrival = arrival;
      arrival = -1;
      ++block;
    } else {
      const size_t at = out.played.size();
      out.played.resize(at + kPull);
      buffer.pull(out.played.data() + at, kPull, nextPull);
      out.pullTimesUs.push_back(nextPull);
      nextPull += 20'000;
    }
  }
  out.stats = buffer.stats();
  return out;
}

std::function<int64_t(int)> uniformLateness(int maxMs, uint32_t seed) {
  auto random = std::make_shared<std::mt19937>(seed);
  return [random, maxMs](int) {
    return std::uniform_int_distribution<int64_t>(0, int64_t(maxMs) * 1000)(*random);
  };
}

// Index of the first sample that isn't silence, or the size.
size_t firstSound(const std::vector<int16_t>& played) {
  return size_t(std::find_if(played.begin(), played.end(), [](int16_t s) { return s != 0; }) -
                played.begin());
}

TEST(JitterBuffer, StartsAfterTheDelayAndPlaysEverySampleInOrder) {
  CJitterBuffer buffer(plainConfig());
  Scenario run;
  run.seconds = 5;
  run.signal = loud;
  const Outcome out = simulate(run, buffer);
  // The first block arrives at 0 and is heard from 120 ms on, not at once.
  const size_t start = firstSound(out.played);
  EXPECT_EQ(start, size_t(120 * 8) + 1);  // loud(0) is 0: the tone starts with a zero sample
  // Perfect timing and a loud signal: nothing dropped, repeated or concealed.
  for (size_t i = 0; i + start - 1 < out.played.size(); ++i)
    ASSERT_EQ(out.played[i + start - 1], loud(i)) << "sample " << i;
  EXPECT_EQ(out.stats.underruns, 0u);
  EXPECT_EQ(out.stats.driftDropped + out.stats.driftRepeated, 0u);
  EXPECT_EQ(out.stats.targetDelayMs, 120);
  EXPECT_NEAR(out.stats.medianDelayMs(), 120, 10);
}

TEST(JitterBuffer, TargetFollowsTheJitterBetweenItsBounds) {
  struct Case {
    int jitterMs;
    int minTarget, maxTarget;
    uint64_t maxUnderruns;  // over a minute, after the first 10 s
  };
  for (const Case c : {Case{0, 120, 120, 0}, Case{40, 120, 120, 0}, Case{100, 121, 150, 1},
                       Case{400, 250, 250, 60}}) {
    SCOPED_TRACE(c.jitterMs);
    CJitterBuffer buffer(plainConfig());
    Scenario warmUp;
    warmUp.seconds = 70;
    warmUp.signal = withPauses;
    warmUp.lateUs = uniformLateness(c.jitterMs, 7);
    // The counts of the first 10 s are taken off: the window has yet to see the jitter.
    Scenario first = warmUp;
    first.seconds = 10;
    CJitterBuffer early(plainConfig());
    const auto before = simulate(first, early).stats;
    const auto after = simulate(warmUp, buffer).stats;
    EXPECT_GE(after.targetDelayMs, c.minTarget);
    EXPECT_LE(after.targetDelayMs, c.maxTarget);
    EXPECT_LE(after.underruns - before.underruns, c.maxUnderruns);
    EXPECT_LT(after.medianDelayMs(), 250 + 10);
    if (c.jitterMs <= 100) {
      EXPECT_EQ(after.overflowDropped, 0u);
    }
  }
}

TEST(JitterBuffer, HoldsAtMostHalfASecondDroppingTheOldest) {
  CJitterBuffer buffer(plainConfig());
  std::vector<int16_t> ramp(8000);  // one second at once
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i);
  buffer.push(ramp.data(), ramp.size(), 0);
  EXPECT_EQ(buffer.heldSamples(), 4000u);
  EXPECT_EQ(buffer.stats().overflowDropped, 4000u);
  std::vector<int16_t> out(kPull);
  buffer.pull(out.data(), out.size(), 120'000);
  EXPECT_EQ(out.front(), 4000);  // the newest half second plays, from its start
  EXPECT_EQ(out.back(), 4000 + int(kPull) - 1);
}

TEST(JitterBuffer, ClockDriftIsAbsorbedInQuietPassages) {
  for (const double rate : {1.005, 0.995}) {
    SCOPED_TRACE(rate);
    CJitterBuffer buffer(plainConfig());
    Scenario run;
    run.seconds = 120;
    run.senderRate = rate;  // far more than real clocks drift, to see it in two minutes
    run.signal = withPauses;
    const Outcome out = simulate(run, buffer);
    const auto& s = out.stats;
    EXPECT_EQ(s.overflowDropped, 0u);
    EXPECT_LE(s.underruns, 0u);
    EXPECT_NEAR(s.medianDelayMs(), 120, 40);
    // 40 samples a second to make up, one at a time.
    if (rate > 1) {
      EXPECT_GT(s.driftDropped, 40u * 100);
    } else {
      EXPECT_GT(s.driftRepeated, 40u * 100);
    }
    // Only silence was touched: every loud stretch still plays as the tone, sample for sample,
    // so nothing was taken out of or added to the middle of a sound.
    size_t loudSamples = 0;
    for (int16_t sample : out.played) loudSamples += std::abs(int(sample)) > 3000;
    EXPECT_GT(loudSamples, out.played.size() / 4);
  }
}

TEST(JitterBuffer, LoudSoundIsNeverStretched) {
  // A steady tone has no quiet passage: even with the delay off target nothing is altered.
  CJitterBuffer buffer(plainConfig());
  Scenario run;
  run.seconds = 20;
  run.senderRate = 1.01;
  run.signal = loud;
  const auto s = simulate(run, buffer).stats;
  EXPECT_EQ(s.driftDropped + s.driftRepeated, 0u);
}

TEST(JitterBuffer, AMissingBlockIsConcealedThenFadesAndPlaybackResumes) {
  CJitterBuffer buffer(plainConfig());
  Scenario run;
  run.seconds = 3;
  run.signal = loud;
  // Block 5 never arrives: the 120 ms held run out 80 ms before block 6 comes, which then
  // plays at once.
  run.lost = [](int k) { return k == 5; };
  const Outcome out = simulate(run, buffer);
  EXPECT_EQ(out.stats.underruns, 1u);
  const size_t start = firstSound(out.played) - 1;
  const size_t gap = start + 5 * kBlock, gapLength = 640;
  auto rms = [&](size_t from, size_t n) {
    double sum = 0;
    for (size_t i = from; i < from + n; ++i) sum += double(out.played[i]) * out.played[i];
    return std::sqrt(sum / double(n));
  };
  const double tone = rms(gap - 400, 400);
  EXPECT_GT(rms(gap, 80), 0.5 * tone);                    // the first 10 ms carry on the sound
  EXPECT_LT(rms(gap + 400, 200), 0.01 * tone);            // and it fades to silence, no buzz
  EXPECT_GT(rms(gap + gapLength + 40, 400), 0.9 * tone);  // block 6 plays
  EXPECT_EQ(out.stats.longestGapSamples, gapLength);
  // No step into the gap larger than the tone's own from sample to sample.
  for (size_t i = gap - 8; i < gap + 80; ++i)
    EXPECT_LE(std::abs(out.played[i + 1] - out.played[i]), 6400) << i - gap;
  // After the gap, block 6 from its first sample (cross-faded in over 5 ms).
  EXPECT_EQ(out.played[gap + gapLength + 800], loud(6 * kBlock + 800));
}

TEST(JitterBuffer, APauseStartsAfreshAtTheLearnedDelay) {
  CJitterBuffer buffer(plainConfig());
  Scenario run;
  run.seconds = 40;
  run.signal = withPauses;
  run.lateUs = uniformLateness(150, 3);
  simulate(run, buffer);
  const int learned = buffer.targetDelayMs();
  ASSERT_GT(learned, 150);

  // The sender stops for a second, then a block comes: it waits for the learned delay again.
  int64_t now = 41'000'000;
  std::vector<int16_t> out(kPull);
  for (int i = 0; i < 50; ++i, now += 20'000) buffer.pull(out.data(), kPull, now);
  EXPECT_FALSE(buffer.playing());
  std::vector<int16_t> block(kBlock, 5000);
  buffer.push(block.data(), kBlock, now);
  const int64_t arrived = now;
  while (out[0] == 0) {
    buffer.pull(out.data(), kPull, now);
    now += 20'000;
  }
  EXPECT_NEAR(double(now - 20'000 - arrived) / 1000, learned, 20);
  EXPECT_EQ(buffer.targetDelayMs(), learned);

  // Audio switched off and on: nothing old plays, and the delay isn't forgotten either.
  buffer.clear();
  EXPECT_EQ(buffer.heldSamples(), 0u);
  EXPECT_EQ(buffer.targetDelayMs(), learned);
  buffer.pull(out.data(), kPull, now);
  EXPECT_EQ(out[0], 0);
}

}  // namespace
