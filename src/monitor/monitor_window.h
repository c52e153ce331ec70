#pragma once
// The monitor window: every channel of one DVR login in a resizable grid of tiles. It owns the
// session (one control and one live-stream connection for all tiles) and the decode pool.
//
// Threads: the session's onFrame runs on the live-stream thread and only hands the frame to the
// pool. Each frame holds its channel in the session's puller until the pool has nothing of it
// waiting; the pool tells so under its lock, and the hold takes only the puller's lock (never the
// other way round). A pool worker that made a picture posts one coalesced wake-up (wakePending_) to
// the UI thread, which takes every new picture and repaints its tiles. Everything else runs on the
// UI thread.
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

#include "monitor/channel_pages.h"
#include "monitor/grid_layout.h"
#include "monitor/tile_activity.h"
#include "monitor/tile_decode_pool.h"
#include "monitor/tile_widget.h"
#include "session/live_session.h"
#include "session/session_listener.h"

class CAudioPlayer;
class CMonitorCapture;
class CMonitorReconnect;
class CConnectDlg;
class CPtzOverlay;
class CWakeWindow;
class QMenuBar;
class QMenu;

namespace platform {
class IWaveOut;
}

class CMonitorWindow final : public QWidget, public ISessionListener {
  Q_OBJECT

 public:
  struct Services {
    platform::IWaveOut* waveOut = nullptr;  // null: the process's device
    int linkTimeoutMs = 20000;
    int connectTimeoutMs = 10000;
    int decodeThreads = 0;     // 0: one per core
    QString captureDirectory;  // snapshots (S) and recordings (R); empty: the default
  };

  explicit CMonitorWindow(const Services& services, QWidget* parent = nullptr);
  ~CMonitorWindow() override;

  // Connects to a DVR; false when a session runs or the target is incomplete. The settings
  // remembered for this DVR are applied first unless the caller set layout or channels itself.
  bool connectTo(const SessionTarget& target);
  void disconnectSession();
  // The last session's DVR again, keeping what the window shows (a reconnect); false when a
  // session runs or there was none.
  bool connectAgain();
  CMonitorReconnect& reconnect() { return *reconnect_; }
  // The Remote Connection dialog, then a connect to what it answered.
  void showConnectDialog();
  SessionPhase phase() const;
  const SessionTarget& target() const { return target_; }
  CLiveSession& session() { return *session_; }

  void setGridLayout(GridLayout layout);
  GridLayout gridLayout() const { return layout_; }
  // The channels in tile order (-1 empty); kept over the DVR's default list.
  void setChannels(const std::vector<int>& channels);
  const CChannelPages& pages() const { return pages_; }
  void assignChannel(int tile, int channel);
  void nextPage();
  void previousPage();
  // Seconds between pages; 0 stops the tour.
  void setPageTour(double seconds);

  void setFocusTile(int tile);
  int focusTile() const { return focusTile_; }
  int focusedChannel() const;
  // Shows the focused tile alone, or the grid again.
  void toggleEnlarged();
  int enlargedTile() const { return enlargedTile_; }
  void setFullScreen(bool on);
  // Frames a second for the tiles that are not focused; 0: no cap.
  void setTileFps(int fps);
  void setAudio(bool on);
  bool audioOn() const { return audioOn_; }
  void setShowFps(bool on);
  void setPtzOverlay(bool on);

  int tileCount() const { return static_cast<int>(tiles_.size()); }
  // Measurements: called on the UI thread when a tile paints a new picture for the first time.
  void setShownObserver(CTileWidget::ShownObserver observer) {
    shownObserver_ = std::move(observer);
  }
  TileDecodeStats decodeStats() const;
  // Pictures handed to the tiles but replaced before they were painted, every tile together.
  uint64_t unpaintedPictures() const;
  CTileWidget* tile(int index) const;
  QString statusText() const;
  // A text of the moment on the status bar (a saved file, a failure).
  void showStatus(const QString& text) { setStatus(text); }
  // A text every tile that shows a channel carries instead of its own state (empty: none).
  void setTileMark(const QString& text);
  const QString& tileMark() const { return tileMark_; }
  void takeSnapshot();
  void toggleRecording();
  int recordingChannel() const;
  // The channel the last session's ending stopped recording, -1 when none.
  int recordingChannelAtEnd() const { return recordingAtEnd_; }
  // The grid as shown (tiles and status bar, no menu bar).
  QImage grabMonitor();

  // Camera movement of the focused tile's camera: press starts it, release stops it (codes as
  // CPtzOverlay's).
  void cameraPress(int code);
  void cameraRelease();
  void cameraPreset(int preset);

  // ISessionListener.
  void onPhaseChanged(SessionPhase phase, const std::string& statusText) override;
  void onDvrInfo(const DvrInfo& info) override;
  void onChannelsChanged(uint32_t runningMask, uint32_t refusedMask) override;
  void onNotice(const std::string& statusText) override;
  void onMessage(const std::string& text) override;
  void onEnded(SessionEnd reason, const std::string& statusText) override;
  void onFrame(const LiveFrame& frame) override;

 signals:
  void statusChanged(const QString& text);
  void messageShown(const QString& text);
  void sessionEnded(int reason);
  // The session's phase (a SessionPhase) changed.
  void phaseChanged(int phase);
  // A DVR notice (power off, setup entered or left) as its status text.
  void noticeShown(const QString& text);
  // The user's Connect or Disconnect (menu, dialog or a caller acting for the user), before it
  // runs; a close counts as a Disconnect.
  void connectionCommand();
  // Channels of the tiles that the DVR masks, lacks or refused to start (bit n: channel n),
  // each reported once per session.
  void channelsUnavailable(uint32_t mask);
  // M or the menu: the compact window should take over this DVR.
  void compactRequested();
  // The window was closed (its session is ending).
  void closed();
  // S: the focused tile's picture at the DVR's size, to be saved as path (a counter is added
  // when the name is taken). The owner saves it and reports with showStatus.
  void snapshotReady(const QImage& picture, const QString& path);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildMenu();
  void rebuildTiles();
  void placeTiles();
  void applyPage();
  void updateWanted();
  void updateRateCaps();
  void updateAudioChannel();
  void updateTileStates();
  void updateUnavailable();
  void takePictures();
  void setStatus(const QString& text);
  void showTileMenu(int tile, QPoint globalPos);
  void placeOverlay();
  void rememberSettings();
  void onCaptureNews();
  QString captureFileName(int channel, bool video) const;
  void applyRememberedSettings();
  bool startSession();

  Services services_;
  // Declared before the session: the session (and its stream thread) goes first.
  std::unique_ptr<CTileDecodePool> pool_;
  std::unique_ptr<CAudioPlayer> audio_;       // opened and fed by the session
  std::unique_ptr<CMonitorCapture> capture_;  // fed by the session's stream thread
  std::unique_ptr<CLiveSession> session_;
  std::unique_ptr<CMonitorReconnect> reconnect_;
  std::unique_ptr<CWakeWindow> wake_;     // brings pool and capture news to the UI thread
  std::atomic<bool> wakePending_{false};  // a pictures wake-up is queued to the UI thread

  SessionTarget target_;  // the password is kept for a switch to the compact window
  QString targetKey_;     // "address:port" of the settings
  bool layoutGiven_ = false;
  bool channelsGiven_ = false;
  DvrInfo info_;
  bool haveInfo_ = false;
  uint32_t runningMask_ = 0;
  uint32_t refusedMask_ = 0;
  uint32_t reportedUnavailable_ = 0;

  GridLayout layout_ = GridLayout::Four;
  CChannelPages pages_;
  QWidget* gridArea_ = nullptr;
  QMenuBar* menuBar_ = nullptr;
  QLabel* statusBar_ = nullptr;
  CPtzOverlay* overlay_ = nullptr;
  std::unique_ptr<CConnectDlg> connectDialog_;
  std::vector<CTileWidget*> tiles_;           // children of gridArea_
  CTileWidget::ShownObserver shownObserver_;  // the tiles keep its address
  std::vector<CTileActivity> activity_;
  int focusTile_ = 0;
  int enlargedTile_ = -1;
  bool showFps_ = false;
  bool overlayOn_ = false;
  bool audioOn_ = false;
  int tileFps_ = 0;
  QTimer tick_;
  QTimer tour_;
  QString statusText_;
  QString tileMark_;
  int recordingAtEnd_ = -1;
  int movingChannel_ = -1;  // the camera a held button or key moves
  int movingStopCode_ = 0;
};
