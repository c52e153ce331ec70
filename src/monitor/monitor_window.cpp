// The monitor window's frame: its parts, the grid of tiles, pages, focus, enlarging and full
// screen.
#include "monitor/monitor_window.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "audio/audio_player.h"
#include "monitor/monitor_capture.h"
#include "monitor/monitor_reconnect.h"
#include "monitor/monitor_settings.h"
#include "monitor/ptz_overlay.h"
#include "monitor/tile_decode_pool.h"
#include "monitor/tile_widget.h"
#include "monitor/wake_window.h"
#include "ui/connect_dlg.h"

namespace {
constexpr int kTickMs = 250;
constexpr uint32_t kWakePictures = 1;
constexpr uint32_t kWakeCapture = 2;

// The grid area: tiles are placed by the window, the rest stays black.
class CGridArea final : public QWidget {
 public:
  explicit CGridArea(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("grid"));
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::black); }
};
}  // namespace

CMonitorWindow::CMonitorWindow(const Services& services, QWidget* parent)
    : QWidget(parent), services_(services) {
  setWindowTitle(QStringLiteral("PelloxView Monitor"));
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(320, 240);
  resize(1280, 720);

  wake_ = std::make_unique<CWakeWindow>([this](uint32_t what) {
    if (what == kWakePictures) {
      wakePending_.store(false);
      takePictures();
    } else if (what == kWakeCapture) {
      onCaptureNews();
    }
  });
  pool_ = std::make_unique<CTileDecodePool>(services_.decodeThreads);
  // A worker's picture wakes the UI thread once, however many pictures come before it runs.
  pool_->setPictureReady([this](uint8_t) {
    if (!wakePending_.exchange(true)) wake_->post(kWakePictures);
  });
  audio_ = std::make_unique<CAudioPlayer>(services_.waveOut);
  capture_ = std::make_unique<CMonitorCapture>([this] { wake_->post(kWakeCapture); });
  session_ = std::make_unique<CLiveSession>(*this, audio_.get());
  // A channel whose decoding lags is not asked for more frames until it caught up: a DVR that
  // answers faster than the pool decodes sends nothing that would be dropped unseen.
  pool_->setBacklog(
      [this](uint8_t channel, bool behind) { session_->holdChannel(channel, behind); });
  session_->setHoldOnDelivery(true);
  reconnect_ = std::make_unique<CMonitorReconnect>(*this);
  reconnect_->setEnabled(loadMonitorReconnect());
  connect(this, &CMonitorWindow::sessionEnded, reconnect_.get(),
          &CMonitorReconnect::onSessionEnded);
  connect(this, &CMonitorWindow::phaseChanged, reconnect_.get(),
          &CMonitorReconnect::onPhaseChanged);
  connect(this, &CMonitorWindow::connectionCommand, reconnect_.get(), &CMonitorReconnect::cancel);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  buildMenu();
  column->setMenuBar(menuBar_);
  gridArea_ = new CGridArea(this);
  gridArea_->installEventFilter(this);
  column->addWidget(gridArea_, 1);
  statusBar_ = new QLabel(this);
  statusBar_->setObjectName(QStringLiteral("status"));
  statusBar_->setContentsMargins(8, 3, 8, 3);
  statusBar_->setStyleSheet(QStringLiteral("background: #202020; color: #d0d0d0;"));
  column->addWidget(statusBar_);

  overlay_ = new CPtzOverlay(gridArea_);
  overlay_->hide();
  connect(overlay_, &CPtzOverlay::movePressed, this, &CMonitorWindow::cameraPress);
  connect(overlay_, &CPtzOverlay::moveReleased, this, [this](int) { cameraRelease(); });
  connect(overlay_, &CPtzOverlay::presetClicked, this, &CMonitorWindow::cameraPreset);

  pages_.setTilesPerPage(gridTileCount(layout_));
  rebuildTiles();
  tick_.setInterval(kTickMs);
  connect(&tick_, &QTimer::timeout, this, &CMonitorWindow::updateTileStates);
  tick_.start();
  connect(&tour_, &QTimer::timeout, this, &CMonitorWindow::nextPage);
  setStatus(QStringLiteral("Not connected"));
}

CMonitorWindow::~CMonitorWindow() {
  tick_.stop();
  tour_.stop();
  reconnect_.reset();
  pool_->setBacklog(nullptr);
  // The session's threads end before the pool they feed; then the pool's workers, whose
  // wake-ups die with this object.
  session_.reset();
  capture_.reset();
  pool_.reset();
  wake_.reset();
  std::fill(target_.password.begin(), target_.password.end(), '\0');
}

void CMonitorWindow::buildMenu() {
  menuBar_ = new QMenuBar(this);
  QMenu* dvr = menuBar_->addMenu(QStringLiteral("&DVR"));
  dvr->addAction(QStringLiteral("&Connect..."), this, &CMonitorWindow::showConnectDialog);
  dvr->addAction(QStringLiteral("&Disconnect"), this, &CMonitorWindow::disconnectSession);
  QAction* reconnect = dvr->addAction(QStringLiteral("&Reconnect automatically"));
  reconnect->setCheckable(true);
  reconnect->setChecked(reconnect_->enabled());
  connect(reconnect_.get(), &CMonitorReconnect::enabledChanged, reconnect, &QAction::setChecked);
  // Only the user's choice is remembered, not a command line's.
  connect(reconnect, &QAction::triggered, this, [this](bool on) {
    reconnect_->setEnabled(on);
    saveMonitorReconnect(on);
  });
  dvr->addSeparator();
  dvr->addAction(QStringLiteral("Compact window\tM"), this, &CMonitorWindow::compactRequested);
  dvr->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
  QMenu* view = menuBar_->addMenu(QStringLiteral("&View"));
  QMenu* layouts = view->addMenu(QStringLiteral("&Layout"));
  for (GridLayout layout :
       {GridLayout::One, GridLayout::Four, GridLayout::Nine, GridLayout::Sixteen,
        GridLayout::OnePlusFive, GridLayout::OnePlusSeven}) {
    layouts->addAction(QString::fromStdString(gridLayoutName(layout)), this,
                       [this, layout] { setGridLayout(layout); });
  }
  view->addAction(QStringLiteral("Next page\tPgDown"), this, &CMonitorWindow::nextPage);
  view->addAction(QStringLiteral("Previous page\tPgUp"), this, &CMonitorWindow::previousPage);
  view->addAction(QStringLiteral("Enlarge tile\tEnter"), this, &CMonitorWindow::toggleEnlarged);
  view->addAction(QStringLiteral("Full screen\tF"), this,
                  [this] { setFullScreen(!isFullScreen()); });
  view->addAction(QStringLiteral("Frame rates\tI"), this, [this] { setShowFps(!showFps_); });
  view->addAction(QStringLiteral("Camera controls\tP"), this,
                  [this] { setPtzOverlay(!overlayOn_); });
  view->addAction(QStringLiteral("Audio\tA"), this, [this] { setAudio(!audioOn_); });
}

CTileWidget* CMonitorWindow::tile(int index) const {
  return index >= 0 && index < tileCount() ? tiles_[static_cast<size_t>(index)] : nullptr;
}

QString CMonitorWindow::statusText() const {
  return statusText_;
}

void CMonitorWindow::setStatus(const QString& text) {
  // The phase change and the session's end can carry the same text: it is shown once.
  if (text == statusText_) return;
  statusText_ = text;
  statusBar_->setText(text);
  emit statusChanged(text);
}

void CMonitorWindow::setGridLayout(GridLayout layout) {
  layoutGiven_ = true;
  if (layout == layout_ && !tiles_.empty()) return;
  layout_ = layout;
  pages_.setTilesPerPage(gridTileCount(layout_));
  enlargedTile_ = -1;
  rebuildTiles();
}

void CMonitorWindow::setChannels(const std::vector<int>& channels) {
  channelsGiven_ = true;
  pages_.setChannels(channels);
  applyPage();
}

void CMonitorWindow::assignChannel(int tile, int channel) {
  pages_.assign(tile, channel);
  applyPage();
}

void CMonitorWindow::nextPage() {
  if (pages_.nextPage()) applyPage();
}

void CMonitorWindow::previousPage() {
  if (pages_.previousPage()) applyPage();
}

void CMonitorWindow::setPageTour(double seconds) {
  tour_.stop();
  if (seconds > 0) tour_.start(static_cast<int>(seconds * 1000));
}

void CMonitorWindow::rebuildTiles() {
  cameraRelease();
  for (CTileWidget* old : tiles_) old->deleteLater();
  tiles_.clear();
  const int count = gridTileCount(layout_);
  activity_.assign(static_cast<size_t>(count), CTileActivity());
  for (int index = 0; index < count; ++index) {
    auto* tile = new CTileWidget(index, gridArea_);
    tile->setShownObserver(&shownObserver_);
    connect(tile, &CTileWidget::pressed, this, &CMonitorWindow::setFocusTile);
    connect(tile, &CTileWidget::doubleClicked, this, [this](int index) {
      setFocusTile(index);
      toggleEnlarged();
    });
    connect(tile, &CTileWidget::menuRequested, this, &CMonitorWindow::showTileMenu);
    tiles_.push_back(tile);
  }
  focusTile_ = std::clamp(focusTile_, 0, count - 1);
  applyPage();
  overlay_->raise();
}

// Every tile shows its page's channel; the session streams exactly those channels.
void CMonitorWindow::applyPage() {
  // The focused tile shows another camera now: the one that moves stops.
  if (movingChannel_ >= 0 && pages_.channelOfTile(focusTile_) != movingChannel_) cameraRelease();
  const auto now = CTileActivity::Clock::now();
  for (int index = 0; index < tileCount(); ++index) {
    CTileWidget* tile = tiles_[static_cast<size_t>(index)];
    const int channel = pages_.channelOfTile(index);
    if (tile->channel() != channel) {
      tile->setChannel(channel);
      activity_[static_cast<size_t>(index)].restart(now);
    }
    tile->setFocused(index == focusTile_);
  }
  placeTiles();
  updateUnavailable();
  updateWanted();
  updateRateCaps();
  updateAudioChannel();
  updateTileStates();
}

void CMonitorWindow::placeTiles() {
  const std::vector<QRect> rects = gridTileRects(layout_, gridArea_->size());
  std::vector<QSize> sizes(CChannelPages::kMaxChannels);
  for (int index = 0; index < tileCount(); ++index) {
    CTileWidget* tile = tiles_[static_cast<size_t>(index)];
    const bool shown = enlargedTile_ < 0 || enlargedTile_ == index;
    tile->setVisible(shown);
    if (!shown) continue;
    tile->setGeometry(enlargedTile_ == index ? gridArea_->rect()
                                             : rects[static_cast<size_t>(index)]);
    const int channel = tile->channel();
    if (channel < 0) continue;
    // A channel on two tiles is decoded once, for the larger.
    QSize& size = sizes[static_cast<size_t>(channel)];
    const QSize wanted = tile->pictureRect().size();
    if (wanted.width() * wanted.height() > size.width() * size.height()) size = wanted;
  }
  for (int channel = 0; channel < CChannelPages::kMaxChannels; ++channel)
    pool_->setTileSize(static_cast<uint8_t>(channel), sizes[static_cast<size_t>(channel)]);
  placeOverlay();
}

void CMonitorWindow::placeOverlay() {
  CTileWidget* focused = tile(focusTile_);
  const int channel = focusedChannel();
  const bool show = overlayOn_ && focused != nullptr && focused->isVisible() && channel >= 0 &&
                    (!haveInfo_ || (info_.ptzMask & (1u << channel)) != 0);
  overlay_->setVisible(show);
  if (!show) return;
  overlay_->adjustSize();
  const QRect area = focused->geometry();
  overlay_->move(area.right() - overlay_->width() - 8, area.bottom() - overlay_->height() - 8);
  overlay_->raise();
}

void CMonitorWindow::setFocusTile(int index) {
  if (index < 0 || index >= tileCount()) return;
  if (index != focusTile_) {
    // A camera never keeps moving once its tile lost the focus.
    cameraRelease();
    if (CTileWidget* old = tile(focusTile_)) old->setFocused(false);
    focusTile_ = index;
    if (enlargedTile_ >= 0) {
      enlargedTile_ = index;
      placeTiles();
      updateWanted();
    }
  }
  tiles_[static_cast<size_t>(index)]->setFocused(true);
  updateRateCaps();
  updateAudioChannel();
  placeOverlay();
}

TileDecodeStats CMonitorWindow::decodeStats() const {
  return pool_->stats();
}

uint64_t CMonitorWindow::unpaintedPictures() const {
  uint64_t count = 0;
  for (const CTileWidget* tile : tiles_) count += tile->unpaintedPictures();
  return count;
}

int CMonitorWindow::focusedChannel() const {
  return pages_.channelOfTile(focusTile_);
}

void CMonitorWindow::toggleEnlarged() {
  const bool back = enlargedTile_ >= 0;
  enlargedTile_ = back ? -1 : focusTile_;
  placeTiles();
  updateWanted();
  if (!back) return;
  // The tiles hidden meanwhile got no pictures: they wait for the next ones afresh instead of
  // saying "Stale" until they come.
  const auto now = CTileActivity::Clock::now();
  for (int index = 0; index < tileCount(); ++index) {
    if (index != focusTile_) activity_[static_cast<size_t>(index)].restart(now);
  }
  updateTileStates();
}

void CMonitorWindow::setFullScreen(bool on) {
  if (on == isFullScreen()) return;
  menuBar_->setVisible(!on);
  if (on) {
    // On the screen the window is on, whatever screen is the primary.
    if (QWindow* handle = windowHandle(); handle != nullptr && screen() != nullptr)
      handle->setScreen(screen());
    showFullScreen();
  } else {
    showNormal();
  }
}

void CMonitorWindow::setShowFps(bool on) {
  showFps_ = on;
  updateTileStates();
}

void CMonitorWindow::setPtzOverlay(bool on) {
  overlayOn_ = on;
  if (!on) cameraRelease();
  placeOverlay();
}

void CMonitorWindow::showTileMenu(int index, QPoint globalPos) {
  QMenu menu(this);
  const int count = haveInfo_ ? static_cast<int>(info_.channelCount) : CChannelPages::kMaxChannels;
  for (int channel = 0; channel < count; ++channel) {
    QAction* action = menu.addAction(CTileWidget::channelName(channel));
    action->setCheckable(true);
    action->setChecked(pages_.channelOfTile(index) == channel);
    action->setEnabled(!haveInfo_ || (info_.disabledMask & (1u << channel)) == 0);
    connect(action, &QAction::triggered, this,
            [this, index, channel] { assignChannel(index, channel); });
  }
  menu.addSeparator();
  connect(menu.addAction(QStringLiteral("Empty")), &QAction::triggered, this,
          [this, index] { assignChannel(index, -1); });
  menu.exec(globalPos);
}

void CMonitorWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeTiles();
}

bool CMonitorWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == gridArea_ && event->type() == QEvent::Resize) placeTiles();
  return QWidget::eventFilter(watched, event);
}

bool CMonitorWindow::focusNextPrevChild(bool next) {
  // Tab and Shift+Tab move the focused tile.
  const int count = tileCount();
  setFocusTile((focusTile_ + (next ? 1 : count - 1)) % count);
  return true;
}

void CMonitorWindow::changeEvent(QEvent* event) {
  // A window that lost the keyboard never gets the key's release: stop the camera now.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) cameraRelease();
  QWidget::changeEvent(event);
}

void CMonitorWindow::closeEvent(QCloseEvent* event) {
  // An open Connect dialog would hold the close back until someone answers it.
  if (connectDialog_ && connectDialog_->isVisible()) connectDialog_->reject();
  rememberSettings();
  cameraRelease();
  disconnectSession();
  QWidget::closeEvent(event);
  emit closed();
}
