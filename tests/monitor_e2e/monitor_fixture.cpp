#include "monitor_e2e/monitor_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <map>
#include <set>

#include "emulator_config.h"
#include "monitor/tile_widget.h"
#include "platform/data_directory.h"
#include "platform/message_window.h"
#include "ptz_camera.h"
#include "rgb_image.h"
#include "synthetic_scene.h"

namespace monitor_e2e {

void WireLog::record(const dvremu::WireEvent& event) {
  std::lock_guard lock(mutex_);
  events_.push_back(event);
}

std::vector<std::vector<uint8_t>> WireLog::bodies(uint32_t command) const {
  std::lock_guard lock(mutex_);
  std::vector<std::vector<uint8_t>> found;
  for (const auto& event : events_) {
    if (event.command == command) found.push_back(event.body);
  }
  return found;
}

size_t WireLog::connections(const std::string& kind) const {
  std::lock_guard lock(mutex_);
  std::set<int> ids;
  for (const auto& event : events_) {
    if (event.kind == kind) ids.insert(event.connection);
  }
  return ids.size();
}

void MonitorTest::SetUp() {
  static int serial = 0;
  dataDir_ =
      QDir::tempPath() +
      QStringLiteral("/pv-monitor-e2e-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
  QDir(dataDir_).removeRecursively();
  QDir().mkpath(dataDir_);
  platform::setDataDirectoryOverride(dataDir_);
}

void MonitorTest::start() {
  startEmulator("127.0.0.1:0");
  if (HasFatalFailure()) return;
  newWindow();
}

void MonitorTest::stopEmulator() {
  if (emulator_) emulator_->stop();
  emulator_.reset();
}

void MonitorTest::restartEmulator() {
  stopEmulator();
  startEmulator("127.0.0.1:" + std::to_string(port_));
}

void MonitorTest::startEmulator(const std::string& listen) {
  std::vector<std::string> args = {"--listen",         listen, "--user", "demo",
                                   "--password",       "demo", "--fps",  "10",
                                   "--alive-interval", "0"};
  args.insert(args.end(), emulatorArgs.begin(), emulatorArgs.end());
  auto parsed = dvremu::parseCommandLine(args);
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  emulator_->core().log().setQuiet(true);
  emulator_->core().log().setWireSink([this](const dvremu::WireEvent& e) { wire.record(e); });
  std::string error;
  ASSERT_TRUE(emulator_->start(&error)) << error;
  port_ = emulator_->port();
}

void MonitorTest::newWindow() {
  if (window_) {
    window_->close();
    waitFor([&] { return window_->phase() == SessionPhase::Idle; }, 8000);
    window_.reset();
  }
  CMonitorWindow::Services services;
  services.waveOut = &waveOut;
  services.connectTimeoutMs = 5000;
  services.decodeThreads = 2;
  services.captureDirectory = dataDir_;
  window_ = std::make_unique<CMonitorWindow>(services);
  window_->resize(1280, 720);
  window_->show();
}

void MonitorTest::TearDown() {
  window_.reset();
  if (emulator_) emulator_->stop();
  emulator_.reset();
  QDir(dataDir_).removeRecursively();
}

void MonitorTest::connect() {
  SessionTarget target;
  target.address = "127.0.0.1";
  target.port = emulator_->port();
  target.userId = "demo";
  target.password = "demo";
  ASSERT_TRUE(window_->connectTo(target));
}

void MonitorTest::connectAndWait() {
  connect();
  ASSERT_TRUE(waitFor([&] { return window_->phase() == SessionPhase::Ready; }))
      << window_->statusText().toStdString();
}

bool MonitorTest::waitFor(const std::function<bool()>& done, int timeoutMs) {
  return platform::processMessagesUntil(done, timeoutMs);
}

bool MonitorTest::waitForPictures(int timeoutMs) {
  return waitFor(
      [&] {
        for (int index = 0; index < window_->tileCount(); ++index) {
          const CTileWidget* tile = window_->tile(index);
          if (!tile->isVisible() || tile->channel() < 0) continue;
          if (tile->picture().isNull() && tile->stateText() != QStringLiteral("Not available"))
            return false;
        }
        return true;
      },
      timeoutMs);
}

namespace {
// The emulator's picture of a channel (rendered once per channel), letterboxed into size as a
// tile shows it.
QImage expectedPicture(int channel, QSize size) {
  static std::map<int, QImage> scenes;
  QImage& source = scenes[channel];
  if (source.isNull()) {
    dvremu::SyntheticScene scene(channel, 704, 480);
    dvremu::RgbImage rgb;
    scene.render(0, dvremu::PtzPosition{}, 0, rgb);
    source = QImage(rgb.pixels.data(), rgb.width, rgb.height, rgb.width * 3, QImage::Format_RGB888)
                 .copy();
  }
  QImage boxed(size, QImage::Format_RGB32);
  boxed.fill(Qt::black);
  const QSize fitted = source.size().scaled(size, Qt::KeepAspectRatio);
  QPainter painter(&boxed);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(
      QRect(QPoint((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2),
            fitted),
      source);
  return boxed;
}

// Mean absolute difference over the middle of the picture: the overlay's clock and frame number
// at the top and the camera line at the bottom change from frame to frame.
double difference(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  double sum = 0;
  long count = 0;
  for (int row = x.height() / 6; row < x.height() * 5 / 6; row += 2) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int column = 0; column < x.width(); column += 2) {
      sum += std::abs(qRed(p[column]) - qRed(q[column])) +
             std::abs(qGreen(p[column]) - qGreen(q[column])) +
             std::abs(qBlue(p[column]) - qBlue(q[column]));
      ++count;
    }
  }
  return count > 0 ? sum / count : 1e9;
}
}  // namespace

Match identify(const QImage& picture, int channels) {
  Match match;
  double best = 1e18, second = 1e18;
  for (int channel = 0; channel < channels; ++channel) {
    const double d = difference(picture, expectedPicture(channel, picture.size()));
    if (d < best) {
      second = best;
      best = d;
      match.channel = channel;
    } else if (d < second) {
      second = d;
    }
  }
  match.margin = best > 0 ? second / best : 1e9;
  return match;
}

void click(QWidget* widget, bool twice) {
  const QPoint at = widget->rect().center();
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &release);
  if (!twice) return;
  QMouseEvent doubled(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &doubled);
  QCoreApplication::sendEvent(widget, &release);
}

void key(QWidget* widget, int key, bool press) {
  QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

}  // namespace monitor_e2e
