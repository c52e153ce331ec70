#include "app/monitor_run.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <cstdio>

#include "app/headless.h"
#include "app/picture_writer.h"
#include "app/quit_signals.h"
#include "app/screenshot_finish.h"
#include "monitor/grid_layout.h"
#include "monitor/monitor_desktop.h"
#include "monitor/monitor_reconnect.h"
#include "monitor/monitor_window.h"
#include "monitor/tile_widget.h"
#include "monitor/wake_window.h"
#include "platform/message_window.h"

namespace {
constexpr int kDisconnectWaitMs = 2000;
constexpr QSize kHeadlessSize(1280, 720);
}  // namespace

CMonitorKiosk::CMonitorKiosk(CMonitorWindow& window, const CommandLineOptions& options,
                             CKioskSession::Target target, CRunOutcome& outcome)
    : window_(window), options_(options), target_(std::move(target)), outcome_(outcome) {
  wake_ = std::make_unique<CWakeWindow>([this](uint32_t) { onSnapshotResults(); });
  snapshotWriter_ = std::make_unique<CPictureWriter>([this] { wake_->post(0); });
}

CMonitorKiosk::~CMonitorKiosk() {
  snapshotWriter_.reset();  // abandons what is still busy: never waits for the disk
  wake_.reset();
  std::fill(target_.password.begin(), target_.password.end(), QChar());
}

void CMonitorKiosk::log(const QString& line) const {
  if (!options_.verbose) return;
  std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

void CMonitorKiosk::start() {
  connect(&window_, &CMonitorWindow::statusChanged, this, &CMonitorKiosk::onStatus);
  connect(&window_, &CMonitorWindow::messageShown, this,
          [this](const QString& text) { log(QStringLiteral("message: ") + text); });
  connect(&window_, &CMonitorWindow::channelsUnavailable, this, &CMonitorKiosk::onUnavailable);
  connect(&window_, &CMonitorWindow::snapshotReady, this, &CMonitorKiosk::saveSnapshot);
  CMonitorReconnect& reconnect = window_.reconnect();
  if (options_.reconnect) reconnect.setEnabled(true);
  reconnect.setFirstWait(std::chrono::milliseconds(options_.reconnectFirstWaitMs));
  connect(&reconnect, &CMonitorReconnect::refusedForGood, this, [this](int status) {
    std::fprintf(stderr, "pelloxview: %s refused the login (status %d); not reconnecting\n",
                 window_.target().address.c_str(), status);
    std::fflush(stderr);
  });
  connect(&window_, &CMonitorWindow::sessionEnded, this, [this] {
    // A run that never got "Connected." ends at once, as the compact window's does, unless
    // another attempt is coming.
    if (!target_.host.isEmpty() && !connectedOnce_ && !ending_ && !window_.reconnect().waiting()) {
      outcome_.notConnected(statusTexts_.isEmpty() ? QStringLiteral("the connect failed")
                                                   : statusTexts_.last());
      endRun();
    }
  });
  if (const auto layout = parseGridLayout(options_.grid)) window_.setGridLayout(*layout);
  if (!options_.monitorChannels.empty()) window_.setChannels(options_.monitorChannels);
  if (options_.focusTile > 0) window_.setFocusTile(options_.focusTile - 1);
  if (options_.tileFps > 0) window_.setTileFps(options_.tileFps);
  if (options_.pageTourSeconds > 0) window_.setPageTour(options_.pageTourSeconds);
  if (options_.audio) window_.setAudio(true);
  if (options_.geometryWidth > 0) {
    window_.resize(options_.geometryWidth, options_.geometryHeight);
  } else if (isHeadlessPlatform()) {
    window_.resize(kHeadlessSize);
  }
  if (options_.fullScreen) {
    window_.setFullScreen(true);
  } else {
    window_.show();
  }
  if (!target_.host.isEmpty()) {
    SessionTarget target;
    target.address = target_.host.toStdString();
    target.port = target_.port;
    target.userId = target_.user.toStdString();
    target.password = target_.password.toStdString();
    std::fill(target_.password.begin(), target_.password.end(), QChar());
    target_.password.clear();
    const bool started = window_.connectTo(target);
    std::fill(target.password.begin(), target.password.end(), '\0');
    if (!started) {
      outcome_.notConnected(QStringLiteral("the connect could not start"));
      QTimer::singleShot(0, this, &CMonitorKiosk::endRun);
    }
    // --geometry wins over the size remembered for this DVR.
    if (options_.geometryWidth > 0) window_.resize(options_.geometryWidth, options_.geometryHeight);
  } else {
    QTimer::singleShot(0, &window_, &CMonitorWindow::showConnectDialog);
  }
  if (options_.quitAfterSeconds > 0) {
    QTimer::singleShot(static_cast<int>(options_.quitAfterSeconds * 1000), this,
                       &CMonitorKiosk::quit);
  }
}

void CMonitorKiosk::onStatus(const QString& text) {
  statusTexts_.append(text);
  log(QStringLiteral("status: ") + text);
  if (!connectedOnce_ && text.endsWith(QStringLiteral(" Connected."))) {
    connectedOnce_ = true;
    focusChannel();
  }
}

// --channel N: the tile that shows N gets the focus.
void CMonitorKiosk::focusChannel() {
  if (options_.channel <= 0) return;
  const int tile = window_.pages().tileOfChannel(options_.channel - 1);
  if (tile >= 0) {
    window_.setFocusTile(tile);
    return;
  }
  std::fprintf(stderr, "pelloxview: channel %d is on no tile of the page shown\n",
               options_.channel);
  std::fflush(stderr);
}

// Each channel the command line put on a tile and the DVR can't show is told once.
void CMonitorKiosk::onUnavailable(uint32_t mask) {
  for (int channel = 0; channel < 16; ++channel) {
    if ((mask & (1u << channel)) == 0 || reported_.count(channel) != 0) continue;
    reported_.insert(channel);
    std::fprintf(stderr, "pelloxview: channel %d is not available on this DVR\n", channel + 1);
  }
  std::fflush(stderr);
}

void CMonitorKiosk::saveScreenshot() {
  if (options_.screenshot.empty() || screenshotWriter_) return;
  screenshotWriter_ = std::make_unique<CPictureWriter>();
  screenshotStarted_.start();
  screenshotWriter_->save(
      window_.grabMonitor(), options_.screenshot,
      options_.overwrite ? platform::ExistingFile::Replace : platform::ExistingFile::Refuse, false);
}

// Snapshots are private files, never over an existing one; saved off the UI thread.
void CMonitorKiosk::saveSnapshot(const QImage& picture, const QString& path) {
  if (!snapshotWriter_->save(picture, QFile::encodeName(path).toStdString(),
                             platform::ExistingFile::Numbered, true))
    window_.showStatus(QStringLiteral("Can't save %1").arg(path));
}

void CMonitorKiosk::onSnapshotResults() {
  for (const CPictureWriter::Result& result : snapshotWriter_->takeResults()) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(result.path));
    window_.showStatus(result.saved ? QStringLiteral("Saved %1").arg(path)
                                    : QStringLiteral("Can't save %1").arg(path));
  }
}

void CMonitorKiosk::finishScreenshot() {
  snapshotWriter_->finish(std::chrono::milliseconds(kScreenshotWaitMs));
  if (!screenshotWriter_) return;
  const QString saved = finishScreenshotFile(*screenshotWriter_, options_.screenshot,
                                             screenshotStarted_, kScreenshotWaitMs, outcome_);
  if (!saved.isEmpty()) screenshotPath_ = saved;
  screenshotWriter_.reset();
}

void CMonitorKiosk::quit() {
  if (ending_) return;
  if (!target_.host.isEmpty() && !connectedOnce_) {
    outcome_.notConnected(
        QStringLiteral("no \"Connected.\" within %1 s").arg(options_.quitAfterSeconds));
  }
  endRun();
}

void CMonitorKiosk::endRun() {
  if (ending_) return;
  ending_ = true;
  window_.setFullScreen(false);
  saveScreenshot();
  window_.close();
}

void CMonitorKiosk::switchAway() {
  if (ending_) return;
  ending_ = true;
  window_.setFullScreen(false);
  window_.close();
}

int runMonitorWindow(const CommandLineOptions& options, CKioskSession::Target target,
                     std::optional<CKioskSession::Target>* toCompact,
                     desktop::CScreenSaverInhibitor* screenSaver,
                     desktop::CDesktopNotifier* notifier) {
  CMonitorWindow::Services services;
  services.linkTimeoutMs = static_cast<int>(options.linkTimeoutSeconds * 1000);
  services.captureDirectory = QString::fromStdString(options.captureDir);
  auto window = std::make_unique<CMonitorWindow>(services);
  auto desktop = std::make_unique<CMonitorDesktop>(*window, screenSaver, notifier);
  CRunOutcome outcome;
  CMonitorKiosk kiosk(*window, options, std::move(target), outcome);
  QEventLoop loop;
  QObject::connect(window.get(), &CMonitorWindow::closed, &loop, &QEventLoop::quit);
  CQuitSignals quitSignals([&] { kiosk.endRun(); });
  QObject::connect(window.get(), &CMonitorWindow::compactRequested, &kiosk, [&] {
    const SessionTarget& shown = window->target();
    CKioskSession::Target next;
    if (window->phase() != SessionPhase::Idle && !shown.address.empty()) {
      next = {QString::fromStdString(shown.address), shown.port,
              QString::fromStdString(shown.userId), QString::fromStdString(shown.password)};
    }
    *toCompact = std::move(next);
    kiosk.switchAway();
  });
  kiosk.start();
  loop.exec();
  // The orderly disconnect started by the close gets a short while for its replies.
  platform::processMessagesUntil([&] { return window->phase() == SessionPhase::Idle; },
                                 kDisconnectWaitMs);
  kiosk.finishScreenshot();
  if (!options.screenshot.empty() && kiosk.screenshotPath().isEmpty() &&
      !outcome.outputFailedFor(QStringLiteral("--screenshot"))) {
    outcome.outputFailed(QStringLiteral("--screenshot"), QString::fromStdString(options.screenshot),
                         QStringLiteral("the window was closed before the quit time"));
  }
  if (options.demo && isHeadlessPlatform()) {
    std::printf("pelloxview: demo showed: %s\n",
                kiosk.statusTexts().join(QStringLiteral(" | ")).toUtf8().constData());
    if (!outcome.outputFailedFor(QStringLiteral("--screenshot")))
      std::printf("pelloxview: screenshot: %s\n", options.screenshot.c_str());
    std::fflush(stdout);
  }
  desktop.reset();
  window.reset();
  const QString reason = outcome.reasonLine();
  if (!reason.isEmpty()) {
    std::fprintf(stderr, "pelloxview: %s\n", reason.toUtf8().constData());
    std::fflush(stderr);
  }
  return outcome.exitStatus();
}
