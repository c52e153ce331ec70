// The viewer program run with --monitor as a kiosk: status lines, a channel the DVR lacks told
// once, and the screenshot of the grid.
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "monitor_e2e/monitor_fixture.h"
#include "protocol/command_codes.h"
#include "support/run_program.h"

namespace monitor_e2e {
namespace {

TEST_F(MonitorTest, KioskRunShowsTheGridAndTellsAnAbsentChannelOnce) {
  emulatorArgs = {"--disabled-mask-b", "0x4"};  // channel 3 masked
  start();
  QTemporaryDir dir;
  const QString passwordFile = dir.filePath(QStringLiteral("password"));
  QFile file(passwordFile);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("demo\n");
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  const QString shot = dir.filePath(QStringLiteral("grid.png"));
  const std::vector<std::string> args = {"--monitor",
                                         "--connect",
                                         "127.0.0.1:" + std::to_string(port()),
                                         "--user",
                                         "demo",
                                         "--password-file",
                                         passwordFile.toStdString(),
                                         "--grid",
                                         "4",
                                         "--channels",
                                         "5,1,3,2",
                                         "--channel",
                                         "2",
                                         "--quit-after",
                                         "4",
                                         "--screenshot",
                                         shot.toStdString(),
                                         "-v",
                                         "--data-dir",
                                         dir.path().toStdString(),
                                         "--audio",
                                         "--audio-out",
                                         dir.filePath(QStringLiteral("audio.wav")).toStdString()};
  const auto run = testing_support::runProgram(
      QStringLiteral(PV_BINARY_DIR "/src/pelloxview"), args,
      {"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=", "PELLOXVIEW_PASSWORD="}, 60000);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const QString err = QString::fromStdString(run.err);
  EXPECT_TRUE(err.contains(QStringLiteral("status: 127.0.0.1 Connected."))) << run.err;
  EXPECT_EQ(err.count(QStringLiteral("channel 5 is not available")), 1) << run.err;
  EXPECT_EQ(err.count(QStringLiteral("channel 3 is not available")), 1) << run.err;
  EXPECT_EQ(err.count(QStringLiteral("is not available")), 2) << run.err;
  // The grid as shown: 1280 wide (headless default), channel 1's picture in the second tile.
  const QImage grid(shot);
  ASSERT_FALSE(grid.isNull());
  EXPECT_EQ(grid.width(), 1280);
  const QImage second = grid.copy(grid.width() / 2 + 8, grid.height() / 4 - 40, 200, 80);
  int lit = 0;
  for (int y = 0; y < second.height(); ++y)
    for (int x = 0; x < second.width(); ++x) lit += qGray(second.pixel(x, y)) > 60 ? 1 : 0;
  EXPECT_GT(lit, second.width() * second.height() / 2) << "the second tile shows no picture";
  // --channel 2 put the focus on tile 4: its audio was asked for.
  const auto audio = wire.bodies(REQ_AUDIOCHANNEL);
  ASSERT_FALSE(audio.empty()) << run.err;
  EXPECT_EQ(audio.back()[0], 2);
  // Only the two channels the DVR has were streamed.
  EXPECT_EQ(stats().channelRequests[4].load(), 0u);
  EXPECT_EQ(stats().channelRequests[2].load(), 0u);
  EXPECT_GT(stats().channelRequests[0].load(), 0u);
  EXPECT_GT(stats().channelRequests[1].load(), 0u);
}

}  // namespace
}  // namespace monitor_e2e
