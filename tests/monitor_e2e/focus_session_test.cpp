// Focus, the session's end and what is remembered, against the emulator.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>

#include <array>

#include "monitor/grid_layout.h"
#include "monitor/monitor_reconnect.h"
#include "monitor/tile_widget.h"
#include "monitor_e2e/monitor_fixture.h"
#include "protocol/command_codes.h"

namespace monitor_e2e {
namespace {

// (channel, code) of every camera command the DVR received.
std::vector<std::pair<int, int>> cameraCommands(const WireLog& wire) {
  std::vector<std::pair<int, int>> commands;
  for (const auto& body : wire.bodies(REQ_PTZCONTROL))
    if (body.size() >= 67) commands.emplace_back(body[64], body[65]);
  return commands;
}

TEST_F(MonitorTest, FocusMovesAudioAndTheCamera) {
  start();
  window().setGridLayout(GridLayout::Four);
  window().setChannels({2, 0, 3, 1});
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  // Audio is off: focus alone asks for no audio.
  click(window().tile(2));
  EXPECT_EQ(window().focusTile(), 2);
  EXPECT_TRUE(window().tile(2)->focused());
  EXPECT_FALSE(window().tile(0)->focused());
  waitFor([] { return false; }, 300);
  EXPECT_TRUE(wire.bodies(REQ_AUDIOCHANNEL).empty());
  key(&window(), Qt::Key_A, true);
  ASSERT_TRUE(waitFor([&] {
    const auto bodies = wire.bodies(REQ_AUDIOCHANNEL);
    return !bodies.empty() && bodies.back()[0] == 4;  // channel 4, counted from 1 on the wire
  }));
  click(window().tile(3));
  ASSERT_TRUE(waitFor([&] { return wire.bodies(REQ_AUDIOCHANNEL).back()[0] == 2; }));

  // The camera keys move the focused tile's camera; the stop follows the release.
  key(&window(), Qt::Key_Up, true);
  key(&window(), Qt::Key_Up, false);
  ASSERT_TRUE(waitFor([&] { return cameraCommands(wire).size() >= 2; }));
  EXPECT_EQ(cameraCommands(wire), (std::vector<std::pair<int, int>>{{1, 1}, {1, 0}}));
  // Held while the focus moves: the moving camera is stopped, the new tile's camera untouched.
  key(&window(), Qt::Key_Plus, true);
  ASSERT_TRUE(waitFor([&] { return cameraCommands(wire).size() >= 3; }));
  click(window().tile(0));
  ASSERT_TRUE(waitFor([&] { return cameraCommands(wire).size() >= 4; }));  // before the release
  key(&window(), Qt::Key_Plus, false);
  waitFor([] { return false; }, 200);
  EXPECT_EQ(cameraCommands(wire),
            (std::vector<std::pair<int, int>>{{1, 1}, {1, 0}, {1, 5}, {1, 9}}));
}

// The on-screen controls (P) act on the focused tile's camera: held buttons move and stop it, a
// preset is recalled with one command.
TEST_F(MonitorTest, OverlayButtonsMoveTheFocusedCamera) {
  start();
  window().setGridLayout(GridLayout::Four);
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  click(window().tile(2));
  key(&window(), Qt::Key_P, true);
  auto* left = window().findChild<QPushButton*>(QStringLiteral("ptzMove3"));
  auto* preset = window().findChild<QPushButton*>(QStringLiteral("ptzPreset4"));
  ASSERT_NE(left, nullptr);
  ASSERT_NE(preset, nullptr);
  EXPECT_TRUE(left->isVisible());
  // Over the focused tile.
  EXPECT_TRUE(window().tile(2)->geometry().contains(left->parentWidget()->geometry()));
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), left->mapToGlobal(QPointF(2, 2)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(left, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), left->mapToGlobal(QPointF(2, 2)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(left, &release);
  preset->click();
  ASSERT_TRUE(waitFor([&] { return wire.bodies(REQ_PTZCONTROL).size() >= 3; }));
  std::vector<std::array<int, 3>> commands;
  for (const auto& body : wire.bodies(REQ_PTZCONTROL))
    commands.push_back({body[64], body[65], body[66]});
  EXPECT_EQ(commands, (std::vector<std::array<int, 3>>{{2, 3, 0}, {2, 0, 0}, {2, 21, 4}}));
  key(&window(), Qt::Key_P, true);
  EXPECT_FALSE(left->isVisible());
}

TEST_F(MonitorTest, LinkLossLeavesEveryTileStaleAndEndsTheSession) {
  start();
  // Without reconnecting, the session is torn down for good.
  window().reconnect().setEnabled(false);
  window().setGridLayout(GridLayout::Four);
  int ends = 0;
  QObject::connect(&window(), &CMonitorWindow::sessionEnded, [&] { ++ends; });
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  command("drop control");
  ASSERT_TRUE(waitFor([&] { return window().phase() == SessionPhase::Idle; }));
  EXPECT_EQ(ends, 1);
  ASSERT_TRUE(waitFor([&] {
    for (int index = 0; index < 4; ++index)
      if (window().tile(index)->stateText() != QStringLiteral("Stale")) return false;
    return true;
  }));
  // Nothing is left open at the DVR.
  EXPECT_TRUE(waitFor([&] { return command("sessions") == "  no connections\n"; }, 8000))
      << command("sessions");
}

TEST_F(MonitorTest, LayoutAndChannelsAreRememberedPerDvr) {
  start();
  connectAndWait();
  window().setGridLayout(GridLayout::OnePlusFive);
  window().assignChannel(0, 3);
  window().assignChannel(1, -1);
  const std::vector<int> chosen = window().pages().channels();
  newWindow();  // closes the first: as a restart of the viewer
  EXPECT_EQ(window().gridLayout(), GridLayout::Four);  // nothing known before the DVR is
  connectAndWait();
  EXPECT_EQ(window().gridLayout(), GridLayout::OnePlusFive);
  EXPECT_EQ(window().pages().channels(), chosen);
  EXPECT_EQ(window().tile(0)->channel(), 3);
  EXPECT_EQ(window().tile(1)->channel(), -1);
}

}  // namespace
}  // namespace monitor_e2e
