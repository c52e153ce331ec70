// Building and parsing message headers: the per-message cost every connection pays.
#include <benchmark/benchmark.h>

#include "protocol/command_codes.h"
#include "protocol/message_header.h"

static void BM_BuildLiveFrameRequest(benchmark::State& state) {
  const uint8_t body[4] = {1, 1, 0, 1};
  for (auto _ : state) benchmark::DoNotOptimize(buildMessage(REQ_LIVEFRAME, body));
}
BENCHMARK(BM_BuildLiveFrameRequest);

static void BM_ParseHeader(benchmark::State& state) {
  const auto bytes = MessageHeader::build(RSP_LIVEFRAME, 40000);
  for (auto _ : state) benchmark::DoNotOptimize(MessageHeader::parse(bytes));
}
BENCHMARK(BM_ParseHeader);

BENCHMARK_MAIN();
