// The monitor window and its session: connecting, the session's news, which channels stream at
// which rate, audio, and the pictures coming back from the decode pool.

#include "monitor/monitor_capture.h"
#include "monitor/monitor_reconnect.h"
#include "monitor/monitor_settings.h"
#include "monitor/monitor_window.h"
#include "monitor/tile_decode_pool.h"
#include "monitor/tile_widget.h"
#include "platform/dialog_host.h"
#include "ui/connect_dlg.h"

namespace {
uint32_t bit(int channel) {
  return channel >= 0 && channel < 32 ? 1u << channel : 0u;
}
}  // namespace

bool CMonitorWindow::connectTo(const SessionTarget& target) {
  if (session_->phase() != SessionPhase::Idle) return false;
  target_ = target;
  targetKey_ = monitorSettingsKey(QString::fromStdString(target.address), target.port);
  target_.linkTimeoutMs = services_.linkTimeoutMs;
  target_.connectTimeoutMs = services_.connectTimeoutMs;
  applyRememberedSettings();
  return startSession();
}

bool CMonitorWindow::connectAgain() {
  if (session_->phase() != SessionPhase::Idle || target_.address.empty()) return false;
  return startSession();
}

bool CMonitorWindow::startSession() {
  haveInfo_ = false;
  info_ = {};
  runningMask_ = refusedMask_ = reportedUnavailable_ = 0;
  pool_->reset();
  capture_->clear();
  const auto now = CTileActivity::Clock::now();
  for (size_t index = 0; index < tiles_.size(); ++index) {
    tiles_[index]->clearPicture();
    activity_[index].restart(now);
  }
  updateWanted();
  updateRateCaps();
  updateAudioChannel();
  return session_->connect(target_);
}

void CMonitorWindow::disconnectSession() {
  emit connectionCommand();
  cameraRelease();
  if (session_->phase() != SessionPhase::Idle) {
    rememberSettings();
    session_->disconnect();
  }
}

void CMonitorWindow::showConnectDialog() {
  if (session_->phase() != SessionPhase::Idle) return;
  emit connectionCommand();
  if (!connectDialog_) connectDialog_ = std::make_unique<CConnectDlg>(this);
  if (platform::dialogHost().execDialog(*connectDialog_) != CConnectDlg::kConnectId) return;
  SessionTarget target;
  target.address = connectDialog_->address().toStdString();
  target.port = static_cast<uint16_t>(connectDialog_->port());
  target.userId = connectDialog_->userId().toStdString();
  target.password = connectDialog_->password().toStdString();
  if (connectTo(target)) connectDialog_->saveConnection();
  std::fill(target.password.begin(), target.password.end(), '\0');
}

SessionPhase CMonitorWindow::phase() const {
  return session_->phase();
}

void CMonitorWindow::applyRememberedSettings() {
  const MonitorSettings remembered = loadMonitorSettings(targetKey_);
  if (!layoutGiven_ && remembered.layout) {
    setGridLayout(*remembered.layout);
    layoutGiven_ = false;
  }
  if (!channelsGiven_ && remembered.channels) {
    pages_.setChannels(*remembered.channels);
    applyPage();
  }
  if (remembered.geometry && !isFullScreen() && !windowState().testFlag(Qt::WindowMaximized))
    setGeometry(*remembered.geometry);
}

void CMonitorWindow::rememberSettings() {
  if (targetKey_.isEmpty()) return;
  MonitorSettings settings;
  settings.layout = layout_;
  if (pages_.explicitList()) settings.channels = pages_.channels();
  settings.geometry = normalGeometry().isValid() ? normalGeometry() : geometry();
  saveMonitorSettings(targetKey_, settings);
}

// The channels of the page's tiles on screen are streamed; the DVR leaves out those it masks. An
// enlarged tile hides the others: their channels stay started on the DVR but are not pulled, so
// going back to the grid needs no new start.
void CMonitorWindow::updateWanted() {
  uint32_t mask = pages_.pageMask();
  if (enlargedTile_ >= 0) mask &= bit(pages_.channelOfTile(enlargedTile_));
  session_->setWantedChannels(mask);
}

// The focused tile's channel runs at the DVR's rate; the others at most at --tile-fps.
void CMonitorWindow::updateRateCaps() {
  const int focused = focusedChannel();
  for (int channel = 0; channel < CChannelPages::kMaxChannels; ++channel) {
    const bool capped = tileFps_ > 0 && channel != focused;
    session_->setChannelRateCap(static_cast<uint8_t>(channel), capped ? tileFps_ : 0);
  }
}

void CMonitorWindow::setTileFps(int fps) {
  tileFps_ = std::max(0, fps);
  updateRateCaps();
}

void CMonitorWindow::setAudio(bool on) {
  audioOn_ = on;
  updateAudioChannel();
}

// Audio follows the focused tile, and only while audio is on.
void CMonitorWindow::updateAudioChannel() {
  const int wanted = audioOn_ ? focusedChannel() : -1;
  if (session_->audioChannel() != wanted) session_->setAudioChannel(wanted);
}

// Tiles whose channel the DVR masks, lacks or refused say "Not available".
void CMonitorWindow::updateUnavailable() {
  uint32_t unavailable = refusedMask_;
  if (haveInfo_) {
    unavailable |= info_.disabledMask;
    for (uint32_t channel = info_.channelCount; channel < 32; ++channel)
      unavailable |= 1u << channel;
  }
  uint32_t shownUnavailable = 0;
  for (size_t index = 0; index < tiles_.size(); ++index) {
    const int channel = tiles_[index]->channel();
    const bool off = (unavailable & bit(channel)) != 0;
    activity_[index].setUnavailable(off);
    if (off) {
      tiles_[index]->clearPicture();
      shownUnavailable |= bit(channel);
    }
  }
  const uint32_t fresh = shownUnavailable & ~reportedUnavailable_;
  reportedUnavailable_ |= fresh;
  if (fresh != 0) emit channelsUnavailable(fresh);
}

void CMonitorWindow::updateTileStates() {
  const auto now = CTileActivity::Clock::now();
  const bool live = session_->phase() == SessionPhase::Ready;
  for (size_t index = 0; index < tiles_.size(); ++index) {
    CTileWidget* tile = tiles_[index];
    const CTileActivity& activity = activity_[index];
    if (tile->channel() < 0) {
      tile->setStateText(QString());
      tile->setFramesPerSecond(-1);
      continue;
    }
    QString state = activity.stateText(now);
    // Without a session no picture is current, however recent the last one.
    if (!live && !activity.unavailable() && activity.hasPicture()) state = QStringLiteral("Stale");
    if (!live && !activity.hasPicture() && !activity.unavailable() &&
        session_->phase() == SessionPhase::Idle)
      state = QStringLiteral("No video");
    // A reconnect's countdown says more than "Stale".
    if (!tileMark_.isEmpty()) state = tileMark_;
    tile->setStateText(state);
    tile->setFramesPerSecond(showFps_ ? activity.framesPerSecond(now) : -1);
  }
}

void CMonitorWindow::takePictures() {
  const auto now = CTileActivity::Clock::now();
  std::vector<std::optional<TilePicture>> taken(CChannelPages::kMaxChannels);
  for (int channel = 0; channel < CChannelPages::kMaxChannels; ++channel)
    taken[static_cast<size_t>(channel)] = pool_->takePicture(static_cast<uint8_t>(channel));
  for (size_t index = 0; index < tiles_.size(); ++index) {
    CTileWidget* tile = tiles_[index];
    const int channel = tile->channel();
    if (channel < 0 || activity_[index].unavailable()) continue;
    const auto& picture = taken[static_cast<size_t>(channel)];
    if (!picture || picture->image.isNull()) continue;
    tile->setPicture(picture->image, picture->sequence, picture->arrival);
    activity_[index].picture(now);
  }
  updateTileStates();
}

void CMonitorWindow::onPhaseChanged(SessionPhase phase, const std::string& statusText) {
  if (!statusText.empty()) setStatus(QString::fromStdString(statusText));
  updateTileStates();
  emit phaseChanged(static_cast<int>(phase));
}

void CMonitorWindow::setTileMark(const QString& text) {
  tileMark_ = text;
  updateTileStates();
}

void CMonitorWindow::onDvrInfo(const DvrInfo& info) {
  info_ = info;
  haveInfo_ = true;
  pages_.setDefaultChannels(info.channelCount, info.disabledMask);
  applyPage();
}

void CMonitorWindow::onChannelsChanged(uint32_t runningMask, uint32_t refusedMask) {
  runningMask_ = runningMask;
  refusedMask_ = refusedMask;
  updateUnavailable();
  updateTileStates();
}

void CMonitorWindow::onNotice(const std::string& statusText) {
  setStatus(QString::fromStdString(statusText));
  emit noticeShown(QString::fromStdString(statusText));
}

void CMonitorWindow::onMessage(const std::string& text) {
  // A wall display must not stop for a box nobody may answer: messages go to the status bar.
  setStatus(QString::fromStdString(text));
  emit messageShown(QString::fromStdString(text));
}

void CMonitorWindow::onEnded(SessionEnd reason, const std::string& statusText) {
  cameraRelease();
  recordingAtEnd_ = capture_->recordingChannel();
  if (recordingAtEnd_ >= 0) toggleRecording();
  movingChannel_ = -1;
  if (!statusText.empty()) setStatus(QString::fromStdString(statusText));
  runningMask_ = 0;
  updateTileStates();
  emit sessionEnded(static_cast<int>(reason));
}

// The live-stream thread: hand the frame over and return.
void CMonitorWindow::onFrame(const LiveFrame& frame) {
  capture_->offer(frame);
  pool_->submit(frame);
}
