// The bridge's page in a real browser: headless Chromium, driven by selenium from
// page_in_chromium.py, loads / and must see every tile's picture move, the DVR's name and state,
// then, without a reload, a notice arrive and stalled channels marked.
#include <sys/wait.h>

#include <cstdio>

#include "bridge_fixture.h"

namespace {

// A python with selenium: Debian's package installs it for the system interpreter, which may
// not be the first python3 on PATH.
std::string pythonWithSelenium() {
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    if (runCommand(std::string(python) + " -c 'import selenium' >/dev/null").status == 0)
      return python;
  }
  return {};
}

std::string missingBrowserParts() {
  if (!haveProgram("chromium")) return "chromium is not installed";
  if (!haveProgram("chromedriver")) return "chromedriver (chromium-driver) is not installed";
  if (pythonWithSelenium().empty()) return "python3-selenium is not installed";
  return {};
}

struct PageRun {
  int status = -1;
  std::string output;
};

// Runs the page check; when the script awaits its step N, the DVR is sent steps[N].
PageRun runPageCheck(CBridgeDvr& dvr, const std::string& arguments,
                     const std::vector<std::string>& steps) {
  const std::string command = "timeout 60 " + pythonWithSelenium() +
                              " " PV_SOURCE_DIR "/tests/bridge/page_in_chromium.py " + arguments +
                              " 2>&1";
  PageRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    run.output += line;
    unsigned step = 0;
    if (std::sscanf(line, "await %u", &step) == 1 && step < steps.size()) dvr.command(steps[step]);
  }
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class BridgeInChromium : public ::testing::TestWithParam<int> {};

}  // namespace

// Four channels: each tile holds an MJPEG stream; the page then shows a notice and a stall as
// they happen. Eight: more than a browser opens connections to one server, so the tiles show
// snapshots one after another and must move all the same; that page is loaded while the DVR is
// still slow to answer, so it has no tiles at first and must load itself again to get them.
TEST_P(BridgeInChromium, EveryTileMovesAndThePageFollowsTheDvr) {
  if (const std::string missing = missingBrowserParts(); !missing.empty()) GTEST_SKIP() << missing;
  const int channels = GetParam();
  const bool slowDvr = channels == 8;
  // Pictures rendered live (a preencoded loop would repeat every second and look still).
  std::vector<std::string> dvrArguments{"--preencode", "0",          "--fps",
                                        "10",          "--channels", std::to_string(channels)};
  if (slowDvr) dvrArguments.insert(dvrArguments.end(), {"--fault", "control stall 3"});
  CBridgeDvr dvr(dvrArguments);
  CBridgeProcess bridge;
  ASSERT_TRUE(bridge.start({"--connect", "127.0.0.1:" + std::to_string(dvr.port()), "--user",
                            "watcher", "--password-file", CBridgeProcess::passwordFile(), "--http",
                            "127.0.0.1:0", "--grace", "1"}))
      << bridge.log();
  if (slowDvr) {
    ASSERT_EQ(httpGet(bridge.port(), "/").body.find("<figure"), std::string::npos);
  } else {
    ASSERT_TRUE(waitUntil([&] { return bridgeReady(bridge.port()); }, 20000)) << bridge.log();
  }

  const PageRun run = runPageCheck(
      dvr,
      bridge.url("/") + " --expect BXF2L3 --expect 'ready: 127.0.0.1 Connected.'" +
          (slowDvr ? ""
                   : " --await 'user entered into DVR Setup' --await 'Channel 1 (No pictures for'"),
      {"notice setup user", "fault live stall 0"});
  if (run.status == 77) GTEST_SKIP() << run.output;
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find(std::to_string(channels) + " tiles"), std::string::npos) << run.output;
  EXPECT_EQ(bridge.terminate(), 0) << bridge.log();
}

INSTANTIATE_TEST_SUITE_P(Channels, BridgeInChromium, ::testing::Values(4, 8));
