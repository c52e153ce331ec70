// The monitor window driven as its session drives it (news on the UI thread, frames from another
// thread), without a DVR: pictures reach the tiles of their channel, tiles say why none come,
// and keys change focus, layout and pages.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <atomic>
#include <map>
#include <thread>

#include "monitor/monitor_window.h"
#include "monitor/tile_frames.h"
#include "monitor/tile_widget.h"
#include "platform/data_directory.h"
#include "platform/message_window.h"

namespace {
class MonitorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setDataDirectoryOverride(dir_.path());
    CMonitorWindow::Services services;
    services.decodeThreads = 2;
    window_ = std::make_unique<CMonitorWindow>(services);
    window_->resize(800, 600);
    window_->show();
    DvrInfo info;
    info.channelCount = 4;
    info.ptzMask = 0xF;
    window_->onDvrInfo(info);
  }
  void TearDown() override {
    window_.reset();
    platform::setDataDirectoryOverride(QString());
  }

  // A picture of channel's scene from another thread, as the live-stream thread hands it over.
  void sendFrame(int channel) {
    const auto bytes = tile_frames::frame(tile_frames::jpeg(tile_frames::scene(channel, 352, 240)),
                                          static_cast<uint8_t>(channel), LiveCodec::Jpeg);
    std::thread stream([&] {
      window_->onFrame(
          tile_frames::live(bytes, static_cast<uint8_t>(channel), LiveCodec::Jpeg, ++sequence_));
    });
    stream.join();
  }
  bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    return platform::processMessagesUntil(done, timeoutMs);
  }
  void key(int code) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QCoreApplication::sendEvent(window_.get(), &press);
  }

  QTemporaryDir dir_;
  std::unique_ptr<CMonitorWindow> window_;
  uint64_t sequence_ = 0;
};

TEST_F(MonitorWindowTest, FramesReachTheTilesOfTheirChannelOnly) {
  window_->setChannels({2, 0, -1, 1});
  sendFrame(2);
  sendFrame(3);  // on no tile: dropped
  ASSERT_TRUE(waitFor([&] { return !window_->tile(0)->picture().isNull(); }));
  waitFor([] { return false; }, 200);
  // The 352 x 240 picture is smaller than the tile: it comes as decoded, and the tile scales it
  // up as it paints.
  const QImage shown = window_->tile(0)->picture();
  ASSERT_LT(shown.width(), window_->tile(0)->pictureRect().width());
  EXPECT_EQ(shown.size(), QSize(352, 240));
  for (int index : {1, 2, 3}) EXPECT_TRUE(window_->tile(index)->picture().isNull()) << index;
  // The picture is the channel's: closer to its scene than to any other channel's.
  const auto expected = [&](int channel) {
    const auto coded = tile_frames::jpeg(tile_frames::scene(channel, 352, 240));
    return tile_frames::difference(shown, tile_frames::referenceDecode(coded, 1)).mean;
  };
  EXPECT_LT(expected(2), expected(0));
  EXPECT_LT(expected(2), expected(1));
}

TEST_F(MonitorWindowTest, TilesSayWhyNoPictureComes) {
  std::vector<uint32_t> reports;
  QObject::connect(window_.get(), &CMonitorWindow::channelsUnavailable,
                   [&](uint32_t mask) { reports.push_back(mask); });
  window_->setChannels({0, 1, 5, -1});   // channel 6 of a 4-channel DVR
  window_->onChannelsChanged(0x1, 0x2);  // channel 2 refused
  EXPECT_EQ(window_->tile(1)->stateText(), QStringLiteral("Not available"));
  EXPECT_EQ(window_->tile(2)->stateText(), QStringLiteral("Not available"));
  EXPECT_EQ(window_->tile(3)->stateText(), QString());  // empty tiles say nothing
  window_->onChannelsChanged(0x1, 0x2);                 // told again: not reported again
  EXPECT_EQ(reports, (std::vector<uint32_t>{0x20, 0x2}));
  // A picture once, then the session ends: stale at once.
  sendFrame(0);
  ASSERT_TRUE(waitFor([&] { return !window_->tile(0)->picture().isNull(); }));
  window_->onEnded(SessionEnd::LinkLost, "127.0.0.1 Disconnected.");
  EXPECT_EQ(window_->tile(0)->stateText(), QStringLiteral("Stale"));
  EXPECT_EQ(window_->statusText(), QStringLiteral("127.0.0.1 Disconnected."));
}

TEST_F(MonitorWindowTest, KeysMoveFocusPagesAndLayout) {
  DvrInfo info;
  info.channelCount = 16;
  window_->onDvrInfo(info);  // the default list: 16 channels on 4 pages of 4
  EXPECT_EQ(window_->tile(3)->channel(), 3);
  key(Qt::Key_PageDown);
  EXPECT_EQ(window_->tile(0)->channel(), 4);
  EXPECT_EQ(window_->session().wantedChannels(), 0xF0u);
  key(Qt::Key_PageUp);
  key(Qt::Key_PageUp);  // wraps to the last page
  EXPECT_EQ(window_->tile(0)->channel(), 12);
  key(Qt::Key_Tab);
  EXPECT_EQ(window_->focusTile(), 1);
  EXPECT_TRUE(window_->tile(1)->focused());
  EXPECT_FALSE(window_->tile(0)->focused());
  key(Qt::Key_7);  // channel 7 onto the focused tile
  EXPECT_EQ(window_->tile(1)->channel(), 6);
  EXPECT_NE(window_->session().wantedChannels() & 0x40u, 0u);
  // Audio follows the focus, and only while on.
  EXPECT_EQ(window_->session().audioChannel(), -1);
  key(Qt::Key_A);
  EXPECT_EQ(window_->session().audioChannel(), 6);
  key(Qt::Key_Tab);
  EXPECT_EQ(window_->session().audioChannel(), 14);
  key(Qt::Key_A);
  EXPECT_EQ(window_->session().audioChannel(), -1);
  key(Qt::Key_G);  // 4 -> 9 tiles
  EXPECT_EQ(window_->tileCount(), 9);
  EXPECT_EQ(window_->gridLayout(), GridLayout::Nine);
}

// One flat colour per channel and frame, so a painted tile tells whose frame it shows.
QRgb floodColour(int channel, uint64_t sequence) {
  return qRgb(30 + channel * 60, 40 + int(sequence % 5) * 45, channel % 2 ? 210 : 20);
}

TEST_F(MonitorWindowTest, AFloodNeverPaintsAForeignOrAnOlderPictureInATile) {
  constexpr int kChannels = 4;
  constexpr uint64_t kFrames = 300;
  std::map<std::pair<int, int>, std::vector<uint8_t>> frames;
  for (int c = 0; c < kChannels; ++c) {
    for (int k = 0; k < 5; ++k) {
      const QRgb colour = floodColour(c, uint64_t(k));
      frames[{c, k}] = tile_frames::frame(
          tile_frames::jpeg(tile_frames::solid(176, 120, uint8_t(qRed(colour)),
                                               uint8_t(qGreen(colour)), uint8_t(qBlue(colour)))),
          uint8_t(c), LiveCodec::Jpeg);
    }
  }
  // Channel 2 on two tiles: each of them must show only its pictures. Channel 3 is on none.
  window_->setChannels({2, 0, 2, 1});
  std::map<int, uint64_t> lastShown;
  // The colour tells the channel and frame a painted picture came from.
  int shown = 0, older = 0, wrongColour = 0;
  window_->setShownObserver([&](const CTileWidget::Shown& s) {
    ++shown;
    const CTileWidget* tile = window_->tile(s.tile);
    if (s.sequence <= lastShown[s.tile]) ++older;
    lastShown[s.tile] = s.sequence;
    const QImage& picture = tile->picture();
    const QRgb centre = picture.pixel(picture.width() / 2, picture.height() / 2);
    const QRgb expected = floodColour(s.channel, s.sequence);
    if (std::abs(qRed(centre) - qRed(expected)) > 6 ||
        std::abs(qGreen(centre) - qGreen(expected)) > 6 ||
        std::abs(qBlue(centre) - qBlue(expected)) > 6)
      ++wrongColour;
  });

  // Two stream threads, far faster than the tiles are painted: frames are skipped in the pool
  // and pictures replaced in the tiles, while the UI thread takes and paints what it gets.
  std::atomic<int> running{2};
  std::vector<std::thread> streams;
  for (int half = 0; half < 2; ++half) {
    streams.emplace_back([&, half] {
      for (uint64_t sequence = 1; sequence <= kFrames; ++sequence) {
        for (int c = half; c < kChannels; c += 2) {
          const auto& bytes = frames.at({c, int(sequence % 5)});
          window_->onFrame(tile_frames::live(bytes, uint8_t(c), LiveCodec::Jpeg, sequence));
        }
        if (sequence % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      --running;
    });
  }
  waitFor([&] { return running.load() == 0; }, 20000);
  for (std::thread& stream : streams) stream.join();
  // The last frames are painted in the end.
  EXPECT_TRUE(waitFor([&] {
    return lastShown[0] == kFrames && lastShown[1] == kFrames && lastShown[2] == kFrames &&
           lastShown[3] == kFrames;
  }));
  window_->setShownObserver(nullptr);
  EXPECT_EQ(older, 0);
  EXPECT_EQ(wrongColour, 0);
  EXPECT_GE(shown, 4);
  const TileDecodeStats stats = window_->decodeStats();
  EXPECT_EQ(stats.submitted, kFrames * 3) << "channel 3's frames are dropped unseen";
  EXPECT_EQ(stats.failed, 0u);
}

TEST_F(MonitorWindowTest, AnEnlargedTilePullsOnlyItsChannelAndTheGridAllAgain) {
  window_->setChannels({2, 0, 3, 1});
  EXPECT_EQ(window_->session().wantedChannels(), 0xFu);
  window_->setFocusTile(2);
  window_->toggleEnlarged();
  EXPECT_EQ(window_->session().wantedChannels(), 0x8u);
  window_->setFocusTile(1);  // focus moves the enlarged tile, and the pull with it
  EXPECT_EQ(window_->enlargedTile(), 1);
  EXPECT_EQ(window_->session().wantedChannels(), 0x1u);
  window_->toggleEnlarged();
  EXPECT_EQ(window_->session().wantedChannels(), 0xFu);
}
}  // namespace
