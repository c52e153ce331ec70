#include "app/viewer_app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/demo_dvr.h"
#include "app/desktop_services.h"
#include "app/diagnostics.h"
#include "app/headless.h"
#include "app/kiosk_session.h"
#include "app/monitor_run.h"
#include "app/password_source.h"
#include "app/quit_signals.h"
#include "app/run_outcome.h"
#include "app/viewer_dlg.h"
#include "platform/data_directory.h"
#include "platform/display_qt_backend.h"
#include "platform/message_window.h"
#include "platform/wave_out.h"
#include "recording/live_tap.h"
#include "ui/connect_dlg.h"

namespace {
constexpr int kDisconnectWaitMs = 2000;
constexpr double kHeadlessDemoSeconds = 15;

// Threads end shortly after they are joined or released; give them a moment before counting.
void reportDiagnostics(const CUiHeartbeat& heartbeat, const ResourceSnapshot& before) {
  std::fprintf(stderr, "diagnostics: slowest-ui-ms=%lld held-ui-ms=%lld\n",
               static_cast<long long>(heartbeat.slowestGapMs()),
               static_cast<long long>(heartbeat.slowestHeldMs()));
  Leftovers left = leftoversSince(before);
  for (int i = 0; i < 20 && !(left.threads.isEmpty() && left.fds.isEmpty()); ++i) {
    QThread::msleep(50);
    QCoreApplication::processEvents();
    left = leftoversSince(before);
  }
  std::fprintf(stderr, "diagnostics: threads=%lld fds=%lld qt-pool-workers=%d\n",
               static_cast<long long>(left.threads.size()), static_cast<long long>(left.fds.size()),
               left.qtPoolWorkers);
  // Name what is left over, for whoever reads the log of a failed run.
  for (const QString& thread : left.threads)
    std::fprintf(stderr, "diagnostics: left thread %s\n", thread.toUtf8().constData());
  for (const QString& fd : left.fds)
    std::fprintf(stderr, "diagnostics: left fd %s\n", fd.toUtf8().constData());
  std::fflush(stderr);
}

// A folder only this user can enter, with a name nobody could have prepared: the headless
// demo's own files go there rather than under fixed names in a shared folder.
QString makePrivateTempFolder() {
  QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/pelloxview-demo-XXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? QFile::decodeName(pattern) : QString();
}

// --record: the file holds pictures and its writer reported no failure.
void checkRecording(const CViewerDlg& window, const std::string& record,
                    const QStringList& statusTexts, CRunOutcome* outcome) {
  const QString option = QStringLiteral("--record");
  const QString path = QFile::decodeName(QByteArray::fromStdString(record));
  const recording::RecordingStats stats = window.liveTap() != nullptr
                                              ? window.liveTap()->recordingStats()
                                              : recording::RecordingStats{};
  if (stats.path == record) {
    if (!stats.error.empty()) {
      outcome->outputFailed(option, path, QString::fromStdString(stats.error));
    } else if (!stats.saved()) {
      outcome->outputFailed(option, path, QStringLiteral("nothing was recorded"));
    }
    return;
  }
  // Another recording (the R key) came after it, or it never began: the window said which.
  for (qsizetype i = statusTexts.size() - 1; i >= 0; --i) {
    const QString& text = statusTexts[i];
    if (!text.contains(path) || text.startsWith(QStringLiteral("Recording "))) continue;
    if (text != QStringLiteral("Saved ") + path) outcome->outputFailed(option, path, text);
    return;
  }
  outcome->outputFailed(option, path, QStringLiteral("no picture to record"));
}

// The outputs the command line asked for, once the window has closed.
void checkOutputs(const CommandLineOptions& options, const CViewerDlg& window,
                  const CKioskSession* session, CRunOutcome* outcome) {
  if (!options.record.empty()) {
    checkRecording(window, options.record,
                   session != nullptr ? session->statusTexts() : QStringList(), outcome);
  }
  const std::string audioError = platform::waveOutFileError();
  if (!options.audioOut.empty() && !audioError.empty()) {
    outcome->outputFailed(QStringLiteral("--audio-out"), QString::fromStdString(options.audioOut),
                          QString::fromStdString(audioError));
  }
  if (!options.screenshot.empty() && (session == nullptr || session->screenshotPath().isEmpty())) {
    // A failed save is already reported; otherwise the window closed before the quit time.
    outcome->outputFailed(QStringLiteral("--screenshot"),
                          QString::fromStdString(options.screenshot),
                          QStringLiteral("the window was closed before the quit time"));
  }
}
}  // namespace

int CViewerApp::run(const CommandLineOptions& given, std::string& password) {
  CommandLineOptions options = given;
  // Taken before anything of the viewer exists: what is left over at the end is the viewer's.
  const ResourceSnapshot before = takeResourceSnapshot();
  CUiHeartbeat heartbeat;
  const bool headless = isHeadlessPlatform();
  if (!options.dataDir.empty()) {
    platform::setDataDirectoryOverride(QString::fromStdString(options.dataDir));
  }

  CKioskSession::Target target;
  CDemoDvr demo;
  if (options.demo) {
    QString error;
    if (!demo.start(&error)) {
      std::fprintf(stderr, "pelloxview: %s\n", error.toUtf8().constData());
      return exit_status::kFailed;
    }
    target = {demo.host(), demo.port(), QString::fromLatin1(CDemoDvr::kUser),
              QString::fromLatin1(CDemoDvr::kPassword)};
    if (options.channel == 0) options.channel = 1;
    options.audio = true;
    if (headless) {
      // Without a screen the demo runs for a bounded time and tells what it showed.
      if (options.quitAfterSeconds == 0) options.quitAfterSeconds = kHeadlessDemoSeconds;
      if (options.screenshot.empty() || options.audioOut.empty()) {
        const QString folder = makePrivateTempFolder();
        if (folder.isEmpty()) {
          std::fprintf(stderr, "pelloxview: cannot create a folder for the demo's files in %s\n",
                       QFile::encodeName(QDir::tempPath()).constData());
          return 1;
        }
        if (options.screenshot.empty())
          options.screenshot = QFile::encodeName(folder + "/pelloxview-demo.png").toStdString();
        if (options.audioOut.empty())
          options.audioOut = QFile::encodeName(folder + "/pelloxview-demo.wav").toStdString();
      }
      options.verbose = true;
    }
    std::printf("pelloxview: demo DVR listening on %s:%u (user demo, password demo)\n",
                demo.host().toUtf8().constData(), demo.port());
    std::fflush(stdout);
  } else if (!options.host.empty()) {
    target = {QString::fromStdString(options.host), options.port,
              QString::fromStdString(options.user), QString::fromStdString(password)};
  }
  // From here on the kiosk session holds the only copy of the password.
  explicit_bzero(password.data(), password.size());
  password.clear();
  if (!options.audioOut.empty()) {
    platform::selectWaveOut("wav:" + options.audioOut);
  }

  // Declared before the windows: they outlive them.
  const DesktopServices desktopServices = desktopServicesFor(options, headless);

  // The compact window; M in it hands its DVR to the monitor window (*toMonitor).
  const auto runCompact = [&](CKioskSession::Target target,
                              std::optional<CKioskSession::Target>* toMonitor) -> int {
    const bool hasTarget = !target.host.isEmpty();
    CQtDisplayBackend backend;
    CViewerDlg::Services services;
    services.screenSaver = desktopServices.screenSaver.get();
    services.notifier = desktopServices.notifier.get();
    services.keepAwakeWhileConnected = desktopServices.keepAwakeWhileConnected;
    services.displayBackend = &backend;
    services.linkTimeoutMs = static_cast<int>(options.linkTimeoutSeconds * 1000);
    services.captureDirectory = QString::fromStdString(options.captureDir);
    auto window = std::make_unique<CViewerDlg>(services);
    window->initDialog();
    if (!options.record.empty()) window->recordOnNextPicture(options.record, options.overwrite);

    CRunOutcome outcome;
    // Always there: the kiosk options act on the first "Connected.", also of a dialog's Connect.
    auto session = std::make_unique<CKioskSession>(*window, options, std::move(target), outcome);
    session->start();
    // A termination signal closes the window as its close button does (once: a window that is
    // already closed waits for its orderly disconnect).
    auto quitSignals = std::make_unique<CQuitSignals>([&] {
      if (!window || !window->isVisible()) return;
      // An open Connect dialog would hold the window's close back until someone answers it.
      if (window->connectDialog().isVisible()) window->connectDialog().reject();
      session->endRun();
    });
    if (!hasTarget) {
      // Without a target the Connect dialog comes up, as it does for every Connect.
      QMetaObject::invokeMethod(
          window.get(),
          [w = window.get()] { platform::sendMessage(w->windowId(), 0x0111, 1004, 0); },
          Qt::QueuedConnection);
    }
    if (options.diagnostics) heartbeat.start();
    window->onMonitorRequested = [&] {
      // The monitor connects to the DVR this window shows (or, without one, asks in its Connect).
      CKioskSession::Target next;
      CConnectDlg& dialog = window->connectDialog();
      if (window->client() != nullptr && !dialog.address().isEmpty()) {
        next = {dialog.address(), static_cast<uint16_t>(dialog.port()), dialog.userId(),
                dialog.password()};
      }
      *toMonitor = std::move(next);
      QTimer::singleShot(0, window.get(), [w = window.get()] { w->close(); });
    };
    window->exec();
    heartbeat.stop();

    // The orderly disconnect posted by the close runs now; its replies get a short while.
    platform::processMessagesUntil([&] { return window->client() == nullptr; }, kDisconnectWaitMs);
    // The recording's file is closed (or, on storage that stopped answering, abandoned) and its
    // outcome shown while the run's log still listens.
    window->finishRecordings();
    session->finishScreenshot();
    const uint64_t framesDrawn = window->display().endCount();
    if (options.demo && headless) {
      std::printf("pelloxview: demo showed: %s\n",
                  session->statusTexts().join(QStringLiteral(" | ")).toUtf8().constData());
      std::printf("pelloxview: frames drawn: %llu\n", static_cast<unsigned long long>(framesDrawn));
    }
    checkOutputs(options, *window, session.get(), &outcome);
    session.reset();
    window.reset();
    // Nothing is left to close: a signal from here on ends the process (and the pipe is not
    // counted as left over).
    quitSignals.reset();
    if (options.diagnostics) reportDiagnostics(heartbeat, before);
    if (options.demo && headless) {
      const qint64 bytes = QFileInfo(QString::fromStdString(options.audioOut)).size();
      std::printf("pelloxview: audio played: %.1f s (%s)\n",
                  bytes > 44 ? static_cast<double>(bytes - 44) / 16000.0 : 0.0,
                  options.audioOut.c_str());
      if (!outcome.outputFailedFor(QStringLiteral("--screenshot")))
        std::printf("pelloxview: screenshot: %s\n", options.screenshot.c_str());
      std::fflush(stdout);
    }
    const QString reason = outcome.reasonLine();
    if (!reason.isEmpty()) {
      std::fprintf(stderr, "pelloxview: %s\n", reason.toUtf8().constData());
      std::fflush(stderr);
    }
    return outcome.exitStatus();
  };

  // M switches between the two windows for the same DVR: the one left ends its session in
  // order, the other connects again with the same address and account.
  bool monitor = options.monitor;
  while (true) {
    if (monitor) {
      std::optional<CKioskSession::Target> toCompact;
      const int status =
          runMonitorWindow(options, std::move(target), &toCompact,
                           desktopServices.screenSaver.get(), desktopServices.notifier.get());
      if (!toCompact) return status;
      target = std::move(*toCompact);
    }
    std::optional<CKioskSession::Target> toMonitor;
    const int status = runCompact(std::move(target), &toMonitor);
    if (!toMonitor) return status;
    target = std::move(*toMonitor);
    monitor = true;
  }
}
