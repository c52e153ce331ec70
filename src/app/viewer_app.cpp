#include "app/viewer_app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "app/demo_dvr.h"
#include "app/diagnostics.h"
#include "app/headless.h"
#include "app/kiosk_session.h"
#include "app/password_source.h"
#include "app/viewer_dlg.h"
#include "platform/data_directory.h"
#include "platform/display_qt_backend.h"
#include "platform/message_window.h"
#include "platform/wave_out.h"

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
}  // namespace

int CViewerApp::run(const CommandLineOptions& given, const std::string& password) {
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
      return 1;
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
  if (!options.audioOut.empty()) {
    platform::selectWaveOut("wav:" + options.audioOut);
  }

  CQtDisplayBackend backend;
  CViewerDlg::Services services;
  services.displayBackend = &backend;
  services.linkTimeoutMs = static_cast<int>(options.linkTimeoutSeconds * 1000);
  services.captureDirectory = QString::fromStdString(options.captureDir);
  auto window = std::make_unique<CViewerDlg>(services);
  window->initDialog();
  if (!options.record.empty())
    window->recordOnNextPicture(QFile::decodeName(QByteArray::fromStdString(options.record)),
                                options.overwrite);

  const bool kiosk = !target.host.isEmpty() || options.quitAfterSeconds > 0 || options.verbose;
  std::unique_ptr<CKioskSession> session;
  if (kiosk) {
    session = std::make_unique<CKioskSession>(*window, options, target);
    session->start();
  }
  if (target.host.isEmpty()) {
    // Without a target the Connect dialog comes up, as it does for every Connect.
    QMetaObject::invokeMethod(
        window.get(), [w = window.get()] { platform::sendMessage(w->windowId(), 0x0111, 1004, 0); },
        Qt::QueuedConnection);
  }
  if (options.diagnostics) heartbeat.start();
  window->exec();
  heartbeat.stop();

  // The orderly disconnect posted by the close runs now; its replies get a short while.
  platform::processMessagesUntil([&] { return window->client() == nullptr; }, kDisconnectWaitMs);
  // The recording's file is closed (or, on storage that stopped answering, abandoned) and its
  // outcome shown while the run's log still listens.
  window->finishRecordings();
  const uint64_t framesDrawn = window->display().endCount();
  if (session && options.demo && headless) {
    std::printf("pelloxview: demo showed: %s\n",
                session->statusTexts().join(QStringLiteral(" | ")).toUtf8().constData());
    std::printf("pelloxview: frames drawn: %llu\n", static_cast<unsigned long long>(framesDrawn));
  }
  session.reset();
  window.reset();
  if (options.diagnostics) reportDiagnostics(heartbeat, before);
  if (options.demo && headless) {
    const qint64 bytes = QFileInfo(QString::fromStdString(options.audioOut)).size();
    std::printf("pelloxview: audio played: %.1f s (%s)\n",
                bytes > 44 ? static_cast<double>(bytes - 44) / 16000.0 : 0.0,
                options.audioOut.c_str());
    std::printf("pelloxview: screenshot: %s\n", options.screenshot.c_str());
  }
  return 0;
}
