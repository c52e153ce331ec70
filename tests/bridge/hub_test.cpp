// The picture hub that HTTP clients share, the demand that decides what is pulled, and the
// documents built from the bridge's state.
#include <gtest/gtest.h>

#include <thread>

#include "bridge/bridge_state.h"
#include "bridge/demand_tracker.h"
#include "bridge/frame_hub.h"

using namespace std::chrono_literals;

TEST(FrameHub, ASlowClientGetsTheNewestPictureAndItsSkipsAreCounted) {
  CFrameHub hub;
  const auto now = std::chrono::steady_clock::now();
  hub.addClient(3);
  EXPECT_EQ(hub.waitNewer(3, 0, 10ms), nullptr);  // nothing yet
  hub.publish(3, {0xFF, 0xD8, 1}, now);
  PicturePtr first = hub.waitNewer(3, 0, 10ms);
  ASSERT_NE(first, nullptr);
  hub.countSent(3, 0, first->sequence);
  for (uint8_t i = 2; i <= 5; ++i) hub.publish(3, {0xFF, 0xD8, i}, now);
  const PicturePtr newest = hub.waitNewer(3, first->sequence, 10ms);
  ASSERT_NE(newest, nullptr);
  EXPECT_EQ(newest->jpeg.back(), 5);  // the newest, not the next
  hub.countSent(3, first->sequence, newest->sequence);
  // The first picture the client held stays valid while newer ones replace it in the hub.
  EXPECT_EQ(first->jpeg.back(), 1);

  const ChannelCounters counters = hub.counters(3);
  EXPECT_EQ(counters.picturesIn, 5u);
  EXPECT_EQ(counters.picturesOut, 2u);
  EXPECT_EQ(counters.skipped, 3u);
  EXPECT_EQ(hub.clients()[3], 1);
  // The client stalls in a write and goes: what came meanwhile was skipped for it too.
  hub.addClient(3);
  for (uint8_t i = 6; i <= 9; ++i) hub.publish(3, {0xFF, 0xD8, i}, now);
  hub.removeClient(3, newest->sequence);
  EXPECT_EQ(hub.counters(3).skipped, 3u + 4u);
  hub.removeClient(3, hub.newest(3)->sequence);  // up to date: nothing missed
  EXPECT_EQ(hub.counters(3).skipped, 7u);
  hub.removeClient(3);  // never below zero
  EXPECT_EQ(hub.clients()[3], 0);
  EXPECT_EQ(hub.counters(9).picturesIn, 0u);  // channels are separate
  hub.publish(16, {1}, now);                  // out of range: ignored
  EXPECT_EQ(hub.newest(16), nullptr);
}

TEST(FrameHub, StopWakesAWaitingClient) {
  CFrameHub hub;
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    hub.stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hub.waitNewer(0, 0, 30s), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  stopper.join();
}

TEST(DemandTracker, AChannelStaysWantedForTheGraceAfterItsLastClient) {
  CDemandTracker demand(5000ms);
  const auto t0 = std::chrono::steady_clock::time_point{} + 100s;
  std::array<int, 16> clients{};
  EXPECT_EQ(demand.update(t0, clients), 0u);  // an idle bridge pulls nothing
  clients[0] = 2;
  clients[5] = 1;
  EXPECT_EQ(demand.update(t0, clients), 0x21u);
  clients = {};
  clients[5] = 1;
  EXPECT_EQ(demand.update(t0 + 3s, clients), 0x21u);
  // A client back within the grace keeps the channel without a gap.
  clients[0] = 1;
  EXPECT_EQ(demand.update(t0 + 4s, clients), 0x21u);
  clients[0] = 0;
  EXPECT_EQ(demand.update(t0 + 8s, clients), 0x21u);
  EXPECT_EQ(demand.update(t0 + 9s, clients), 0x20u);
  clients[5] = 0;
  EXPECT_EQ(demand.update(t0 + 9s, clients), 0x20u);
  EXPECT_EQ(demand.update(t0 + 14s, clients), 0u);
}

TEST(BridgeDocuments, DvrTextsAreEscapedAndOnlyOfferedChannelsListed) {
  BridgeView view;
  view.address = "10.0.0.5";
  view.model = "<b>DVR</b>";
  view.phase = "ready";
  view.status = "10.0.0.5 Connected.";
  view.notices = {"Power \"off\"\n<script>"};
  view.channels[0].offered = true;
  view.channels[2].offered = true;
  view.channels[2].refused = true;
  view.channels[2].counters.clients = 4;

  const std::string page = renderPage(view);
  // The page's own script is the only one.
  EXPECT_EQ(page.find("<script>"), page.rfind("<script>"));
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;"), std::string::npos);
  EXPECT_NE(page.find("<img src=\"/channels/1.mjpg\""), std::string::npos);
  EXPECT_NE(page.find("<img src=\"/channels/3.mjpg\""), std::string::npos);
  EXPECT_EQ(page.find("/channels/2.mjpg"), std::string::npos);
  // A refused channel says so and shows no broken picture.
  EXPECT_NE(page.find("<figure id=\"tile3\" class=\"bad off\">"), std::string::npos);
  EXPECT_NE(page.find("Channel 3 (Not available)"), std::string::npos);

  const std::string json = renderStatusJson(view);
  EXPECT_NE(json.find(R"("notices":["Power \"off\"\u000a<script>"])"), std::string::npos) << json;
  EXPECT_NE(
      json.find(
          R"({"channel":3,"codec":"","pulled":false,"running":false,"refused":true,"clients":4,)"),
      std::string::npos)
      << json;
  EXPECT_EQ(json.find("\"channel\":2"), std::string::npos);

  const std::string metrics = renderMetrics(view);
  EXPECT_NE(metrics.find("pelloxview_bridge_connected 1\n"), std::string::npos);
  EXPECT_NE(metrics.find("pelloxview_bridge_clients{channel=\"3\"} 4\n"), std::string::npos);
  EXPECT_EQ(metrics.find("channel=\"2\""), std::string::npos);
}

TEST(BridgeDocuments, FewTilesStreamAndMoreThanABrowserConnectsToShowSnapshots) {
  // A browser opens six connections to one server: with four channels every tile streams; with
  // five or more no tile may wait for a connection that never comes.
  for (const size_t offered : {4u, 5u, 16u}) {
    BridgeView view;
    view.address = "10.0.0.5";
    view.phase = "connecting";
    view.notices = {"first", "second"};
    for (size_t n = 0; n < offered; ++n) view.channels[n].offered = true;
    const std::string page = renderPage(view);
    size_t streams = 0;
    size_t snapshots = 0;
    for (size_t at = page.find("<img "); at != std::string::npos; at = page.find("<img ", at + 1)) {
      const size_t end = page.find('>', at);
      const std::string tag = page.substr(at, end - at);
      streams += tag.find(".mjpg\"") != std::string::npos ? 1 : 0;
      snapshots += tag.find(".jpg\" data-refresh") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(streams, offered <= 4 ? offered : 0u) << offered;
    EXPECT_EQ(snapshots, offered <= 4 ? 0u : offered) << offered;
    EXPECT_NE(page.find("data-channel=\"" + std::to_string(offered) + "\""), std::string::npos);
    // Not connected: the state stands out; the newest notice comes first.
    EXPECT_NE(page.find("<body class=\"down\">"), std::string::npos);
    EXPECT_NE(page.find("<li>second</li><li>first</li>"), std::string::npos);
  }
}
