#pragma once
// The main window: owns everything that lives for the whole run (skin controls, reply queue,
// connection and address-book dialogs, video decoder and frame renderer, full-screen dialog,
// hidden audio window) and, from a Connect until the next Connect or a teardown, one CDvrClient.
//
// Its behaviour is split by concern: viewer_dlg_startup.cpp (construction, initialisation,
// message table, timers, painting, close), viewer_dlg_layout.cpp (skins, layouts, full screen),
// viewer_dlg_connection.cpp (Connect, Disconnect, 2024/2025/2041/2042/2051, teardowns),
// viewer_dlg_replies.cpp (4025, 4026), viewer_dlg_channels.cpp (channel switch, live start),
// viewer_dlg_camera.cpp (camera panel), viewer_dlg_audio.cpp (audio switch, volume) and
// viewer_dlg_desktop.cpp (screensaver, desktop notifications).
//
// Threads: everything here runs on the UI thread, except the three drawing gates, which the
// live-stream thread reads through IDrawGates.
#include <QDialog>
#include <QPointer>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/connect_request.h"
#include "platform/display.h"
#include "platform/message_filter.h"
#include "platform/message_window.h"
#include "platform/output_file.h"
#include "protocol/reply_queue.h"
#include "session/session_listener.h"
#include "video/draw_gates.h"

class CAddressBookDlg;
class CAudioDlg;
class CChannelButton;
class CConnectDlg;
class CDvrClient;
class CFrameRenderer;
class CHoverButton;
class CLiveTap;
class CPictureWriter;
class CSkinSlider;
class CStatusLine;
class CVideoDecoder;
class IVideoCodecLibrary;
class QPushButton;
struct ReplyRecord;

namespace platform {
class IWaveOut;
}
namespace desktop {
class CDesktopNotifier;
class CScreenSaverInhibitor;
enum class Urgency : uint8_t;
}  // namespace desktop

// A request the reply dispatcher asks the window to issue (lParam of 4025 is its argument).
struct RequestOrder {
  int32_t index = 0;
  uint32_t request = 0;
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;
};

class CViewerDlg final : public QDialog,
                         public CMessageWindow,
                         public IDrawGates,
                         public CMessageFilter {
  Q_OBJECT

 public:
  // What the window runs on; the caller keeps each alive for the window's life.
  struct Services {
    IDisplayBackend* displayBackend = nullptr;   // required
    platform::IWaveOut* waveOut = nullptr;       // null: the process's device
    IVideoCodecLibrary* codecLibrary = nullptr;  // null: the real library
    int linkTimeoutMs = 20000;                   // control-link silence that counts as lost
    int connectTimeoutMs = 10000;                // timer 300: a connect attempt
    int switchTimeoutMs = 10000;                 // timer 400: a channel switch
    QString captureDirectory;  // snapshots and recordings; empty: the XDG pictures/videos folders
    // Creates snapshot files; empty: platform::createOutputFile (tests stand in for the disk).
    std::function<platform::COutputFile(const std::string&, platform::ExistingFile)>
        createSnapshotFile;
    // The desktop's services (null: none). The screen stays awake while live video is shown full
    // screen and, with keepAwakeWhileConnected (a kiosk run), from "Connected." to the teardown.
    // The notifier tells of DVR notices and a lost link while no window of the viewer is active.
    desktop::CScreenSaverInhibitor* screenSaver = nullptr;
    desktop::CDesktopNotifier* notifier = nullptr;
    bool keepAwakeWhileConnected = false;
  };

  // Timers by id are the window's own (QObject has calls of the same names).
  using CMessageWindow::killTimer;
  using CMessageWindow::setTimer;

  explicit CViewerDlg(const Services& services, QWidget* parent = nullptr);
  ~CViewerDlg() override;

  // The dialog-initialisation steps; true when they all ran.
  bool initDialog();

  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  bool preTranslateMessage(const InputMessage& message) override;

  // IDrawGates (any thread).
  bool disconnectRequested() const override { return disconnectRequested_.load(); }
  bool liveReady() const override { return liveReady_.load(); }
  bool displayReady() const override { return displayReady_.load(); }

  // Observers for the command line's kiosk mode and for tests (UI thread).
  std::function<void(const QString&)> onStatusText;  // every change of the status line
  std::function<void()> onConnected;                 // "%s Connected." was shown
  std::function<void(const QString&)> onCapture;     // a snapshot or recording file was saved
  // A session's teardown begins; channel, audio, full screen and recording are still as they
  // were. loginStatus is the refused login's status (SessionEnd::LoginRefused), else 0.
  std::function<void(SessionEnd reason, int16_t loginStatus)> onSessionEnding;
  // A Connect or Disconnect command reached the window (a button, a close), before it runs.
  std::function<void(int command)> onConnectionCommand;

  // While the kiosk waits to reconnect: Disconnect is offered (it ends the wait), Connect is not.
  void setReconnectWaiting(bool waiting);
  // A text of the kiosk's own on the status line (the reconnect countdown).
  void showStatusText(const QString& text);
  std::function<void()> onMonitorRequested;  // M: the monitor window should take over

  // Records the live stream to path from the next picture that starts (the command line's
  // --record); an existing file is an error unless overwrite is set.
  void recordOnNextPicture(const std::string& path, bool overwrite = false);  // bytes as given
  void recordOnNextPicture(const std::string& path, platform::ExistingFile existing);
  // Stops a recording and waits (a few seconds at most) for every recording to be closed and
  // every snapshot saved; writers still busy then are abandoned. Reports on the status line; true
  // when no snapshot or recording of this window failed or came out empty (see captureFailed).
  bool finishRecordings();
  // A snapshot or recording could not be written in full, or a recording held no picture.
  bool captureFailed() const { return captureFailed_; }
  CLiveTap* liveTap() const { return liveTap_.get(); }
  // Read access (tests, kiosk).
  const QString& statusText() const { return statusText_; }
  QString addressText() const;
  CDvrClient* client() const { return client_.get(); }
  int shownChannel() const { return shownChannel_; }
  int selectedChannel() const { return selectedChannel_; }
  bool isConnected() const { return connected_; }
  bool isIdle() const { return idle_; }
  bool audioOn() const { return audioOn_; }
  bool ptzMoving() const { return ptzMoving_; }
  int activePreset() const { return activePreset_; }
  bool fullScreen() const { return fullScreen_; }
  bool dvrLeft() const { return dvrLeft_; }
  int layout() const { return layout_; }
  int viewOption() const { return viewOption_; }
  uint32_t ptzMask() const { return ptzMask_; }
  uint32_t disabledMask() const { return disabledMaskA_ | disabledMaskB_; }
  uint32_t volume() const { return volume_; }
  Display& display() { return display_; }
  CConnectDlg& connectDialog() { return *connectDialog_; }
  CAudioDlg& audioWindow() { return *audioWindow_; }
  CChannelButton* channelButton(int channel) const;
  CHoverButton* hoverButton(int controlId) const;
  QDialog& fullScreenDialog() { return *fullScreenDialog_; }
  // Ends the full-screen dialog if it runs (kiosk quit, every teardown).
  void leaveFullScreen();
  // A tap at a point in window coordinates, as a pen-down on the window itself would give it.
  void tapWindow(QPoint point);
  // The window as shown, with the live picture where the display shows it.
  QImage grabWindow();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void reject() override;

 private:
  // Start-up and lifecycle (viewer_dlg_startup.cpp).
  bool openDisplay();
  void onTimer(uint32_t id);
  void closeSteps();
  int onCommand(int id);
  void setStatusText(const QString& text);
  // Bit of a channel in a channel mask; 0 for no channel.
  static uint32_t channelMask(int channel) {
    return channel >= 0 && channel < 32 ? 1u << channel : 0u;
  }
  void repaintWindow(bool withBackground);

  // Skins, layouts and full screen (viewer_dlg_layout.cpp).
  void createControls();
  void setUpSkins();
  void hideAll();
  void applyLayout(int layout);
  void setFullScreen(bool on);
  void onPictureTap(QPoint windowPoint);
  void placeDisplay();
  // Shows or hides the live picture in the window view; hiding also clears the display memory.
  void showPicture(bool shown);
  void setControlVisible(int id, bool visible);
  void setControlEnabled(int id, bool enabled);

  // Connection workflow (viewer_dlg_connection.cpp).
  void onConnectCommand();
  void onDisconnectCommand();
  void onAddressBookCommand();
  int onConnectRequest(ConnectRequest* request);
  int onCloseLiveViewing(uintptr_t channel);
  int onControlConnectResult(intptr_t result);
  int onControlLinkLost();
  int onLiveStreamLost();
  int endLostSession(SessionEnd reason);
  void notifySessionEnding(SessionEnd reason, int16_t loginStatus = 0);
  void onConnectTimeout();
  // The shared reset of every teardown; the status text is set by the caller.
  void resetControlsAfterTeardown();
  void endSession();
  void deleteClient();
  bool clientConnected() const;

  // Replies (viewer_dlg_replies.cpp).
  int onReply(const ReplyRecord* record);
  int onRequestOrder(const RequestOrder* order, intptr_t argument);
  void onAuthResult(const ReplyRecord& record, int16_t status);
  void onNotice(const uint8_t* body);
  void onLiveSetup(uint16_t status);
  void onLiveClose(uint16_t status);
  void onDisconnectReply(uint16_t status);
  void onPtzControlReply(const uint8_t* body, uint32_t length);
  void sendOrder(int32_t index, uint32_t request, intptr_t argument);
  void showMessage(const QString& text, bool exclamation = false);

  // Channels and view (viewer_dlg_channels.cpp).
  void onChannelButton(int channel);
  void onLiveStart(const uint8_t* body, uint32_t length);
  void requestFailure(bool timedOut);
  void restartLiveChannel();
  void enableChannelButtons();
  void disableChannelButtons();
  void moveMarkerTo(int channel);
  void parkMarker();

  // Camera panel (viewer_dlg_camera.cpp).
  void showCameraPanel(bool show);
  int onPenDown(const InputMessage* message);
  int onPenUp(const InputMessage* message);
  int onPreset(intptr_t preset);
  void onPresetButton(int controlId);
  CHoverButton* hoverButtonFor(const QObject* target) const;

  // Keyboard (viewer_dlg_keyboard.cpp). True when the key was the window's.
  bool handleKeyPress(QKeyEvent* event);
  bool handleKeyRelease(QKeyEvent* event);
  void releaseHeldCameraKey();
  void sendPen(int controlId, bool down);

  // Snapshot and recording (viewer_dlg_capture.cpp).
  void takeSnapshot();
  void toggleRecording();
  void startRecordingTo(const std::string& path, platform::ExistingFile existing,
                        bool makeFolder = false);
  void stopRecording();
  void onRecordingEvents();
  void onSnapshotResults();
  QString captureFolder(bool video) const;
  QString captureFileName(bool video) const;

  // The desktop: screensaver and notifications (viewer_dlg_desktop.cpp).
  void updateScreenSaver();
  void notifyDesktop(const QString& summary, desktop::Urgency urgency);
  bool viewerActive() const;

  // Audio (viewer_dlg_audio.cpp).
  void onAudioOn();
  void switchAudioOff();
  void closeAudioForDisconnect();
  bool readDeviceVolume();
  int onVolumeChanged(uintptr_t controlId, intptr_t position);

  Services services_;

  // Skin controls, children of this window (owned by Qt's parent chain).
  QPointer<CHoverButton> connectButton_, disconnectButton_, addressBookButton_, audioOnButton_,
      audioOffButton_, channelMarker_;
  std::array<CChannelButton*, 16> channelButtons_{};
  CSkinSlider* volumeControl_ = nullptr;
  CStatusLine* statusLine_ = nullptr;
  QPushButton* versionButton_ = nullptr;

  int channelButtonCount_ = 16;
  int viewOption_ = 1;
  int shownChannel_ = -1;  // the channel asked for, from the moment its request went out
  int selectedChannel_ = 0;
  // The channel whose start the DVR last confirmed: what a failed switch goes back to (-1 none).
  int liveChannel_ = -1;
  // The channel a failed switch is starting again, until its start is confirmed (-1 none).
  int restartChannel_ = -1;
  uint32_t disabledMaskA_ = 0;
  uint32_t disabledMaskB_ = 0;
  uint32_t ptzMask_ = 0;
  bool dvrLeft_ = false;
  int layout_ = 0;
  bool ptzMoving_ = false;
  int activePreset_ = 0;
  QString statusText_;
  bool fullScreen_ = false;
  bool pictureShown_ = false;  // the display widget shows in the picture area
  bool markerShown_ = false;   // the channel marker stands above a channel (layouts keep it)
  bool audioOn_ = false;
  bool idle_ = true;
  bool connected_ = false;
  // REQ_LIVECLOSE went out (channel switch or orderly disconnect): the old live stream's end is
  // expected, whoever closes it, until the rebuilt stream has logged in.
  bool liveClosePending_ = false;
  bool disconnecting_ = false;     // the orderly disconnect waits for the DVR's replies
  bool reconnectWaiting_ = false;  // the kiosk waits to connect again (setReconnectWaiting)
  uint32_t volume_ = 0;
  // The button under the last pen-down, or null. Guarded against deletion by QPointer.
  QPointer<CHoverButton> pressedButton_;
  // Set by the accepted press; the stop code goes with it (the camera never runs away).
  int pressedStopCode_ = -1;
  int ptzChannel_ = 0;        // the channel whose camera the accepted press started
  int heldCameraButton_ = 0;  // the camera button a held key stands for, 0 none
  GXDisplayProperties displayProperties_{};

  // Drawing gates: written here, read by the live-stream thread.
  std::atomic<bool> disconnectRequested_{false};
  std::atomic<bool> liveReady_{true};
  std::atomic<bool> displayReady_{true};

  Display display_;
  ReplyQueue replyQueue_;
  std::unique_ptr<CConnectDlg> connectDialog_;
  std::unique_ptr<CAddressBookDlg> addressBookDialog_;
  std::unique_ptr<CVideoDecoder> videoDecoder_;
  std::unique_ptr<CFrameRenderer> frameRenderer_;
  std::unique_ptr<QDialog> fullScreenDialog_;
  std::unique_ptr<CAudioDlg> audioWindow_;
  // Between the connections and the decoder, renderer and player; outlives every client.
  std::unique_ptr<CLiveTap> liveTap_;
  // Saves the S key's snapshots off the UI thread.
  std::unique_ptr<CPictureWriter> snapshotWriter_;
  std::string pendingRecordPath_;  // the name's bytes as given
  platform::ExistingFile pendingRecordExisting_ = platform::ExistingFile::Refuse;
  bool captureFailed_ = false;
  std::unique_ptr<CDvrClient> client_;
  bool destroyed_ = false;
};
