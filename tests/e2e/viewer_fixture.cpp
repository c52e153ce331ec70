#include "e2e/viewer_fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/control_ids.h"
#include "emulator_config.h"
#include "platform/data_directory.h"
#include "platform/messages.h"
#include "protocol/command_codes.h"
#include "ui/channel_button.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"

namespace e2e {

void WireRecorder::record(const dvremu::WireEvent& event) {
  std::lock_guard lock(mutex_);
  events_.push_back(event);
}

std::vector<std::string> WireRecorder::requests(const std::string& kind) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& event : events_) {
    if (event.kind != kind || event.command == REQ_LIVEFRAME || event.command == RSP_ALIVECHECK)
      continue;
    names.emplace_back(commandName(event.command));
  }
  return names;
}

std::vector<std::vector<uint8_t>> WireRecorder::bodies(uint32_t command) const {
  std::lock_guard lock(mutex_);
  std::vector<std::vector<uint8_t>> found;
  for (const auto& event : events_) {
    if (event.command == command) found.push_back(event.body);
  }
  return found;
}

size_t WireRecorder::count(uint32_t command) const {
  return bodies(command).size();
}

void WireRecorder::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void ViewerTest::SetUp() {
  static int serial = 0;
  dataDir_ = QDir::tempPath() +
             QStringLiteral("/pv-e2e-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
  QDir(dataDir_).removeRecursively();
  QDir().mkpath(dataDir_);
  platform::setDataDirectoryOverride(dataDir_);
  dialogs.answerDialog = [this](QDialog& dialog) -> int {
    if (auto* connect = qobject_cast<CConnectDlg*>(&dialog)) {
      findControl<QComboBox>(connect, CConnectDlg::kAddressId)->setEditText(address());
      findControl<QLineEdit>(connect, CConnectDlg::kPortId)
          ->setText(QString::number(connectPort != 0 ? connectPort : port()));
      findControl<QLineEdit>(connect, CConnectDlg::kUserIdId)
          ->setText(QString::fromStdString(user_));
      findControl<QLineEdit>(connect, CConnectDlg::kPasswordId)
          ->setText(QString::fromStdString(password_));
      connect->onConnect();
      return connect->result();
    }
    return onOtherDialog ? onOtherDialog(dialog) : QDialog::Rejected;
  };
  platform::setDialogHost(&dialogs);
  services.waveOut = &waveOut;
  services.switchTimeoutMs = 3000;
  services.connectTimeoutMs = 5000;
}

void ViewerTest::startEmulator(const std::string& listen) {
  std::vector<std::string> args = {"--listen",         listen, "--user", "demo",
                                   "--password",       "demo", "--fps",  "25",
                                   "--alive-interval", "0"};
  args.insert(args.end(), emulatorArgs.begin(), emulatorArgs.end());
  auto parsed = dvremu::parseCommandLine(args);
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  emulator_->core().log().setQuiet(true);
  emulator_->core().log().setWireSink([this](const dvremu::WireEvent& e) { recorder.record(e); });
  std::string error;
  ASSERT_TRUE(emulator_->start(&error)) << error;
  port_ = emulator_->port();
}

void ViewerTest::stopEmulator() {
  if (emulator_) emulator_->stop();
  emulator_.reset();
}

void ViewerTest::restartEmulator() {
  stopEmulator();
  startEmulator("127.0.0.1:" + std::to_string(port_));
}

void ViewerTest::start() {
  startEmulator("127.0.0.1:0");
  if (HasFatalFailure()) return;

  backend_ = std::make_unique<CQtDisplayBackend>();
  services.displayBackend = backend_.get();
  window_ = std::make_unique<CViewerDlg>(services);
  ASSERT_TRUE(window_->initDialog());
  window_->show();
}

uint16_t ViewerTest::unusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);  // bound but never listening: connects to it are refused
  return ntohs(address.sin_port);
}

void ViewerTest::TearDown() {
  window_.reset();
  backend_.reset();
  if (emulator_) emulator_->stop();
  emulator_.reset();
  platform::setDialogHost(nullptr);
  QDir(dataDir_).removeRecursively();
}

std::string ViewerTest::command(const std::string& line) {
  return emulator_->execute(line);
}

uint16_t ViewerTest::port() const {
  return port_;
}

void ViewerTest::pressConnect(const std::string& user, const std::string& password) {
  user_ = user;
  password_ = password;
  press(ctl::kConnect);
}

void ViewerTest::connectAndWait() {
  pressConnect();
  ASSERT_TRUE(waitForStatus(address() + QStringLiteral(" Connected.")))
      << window_->statusText().toStdString();
}

void ViewerTest::press(int controlId) {
  platform::sendMessage(window_->windowId(), msg::kCommand, static_cast<uintptr_t>(controlId), 0);
}

bool ViewerTest::showChannel(int channel, int timeoutMs) {
  press(ctl::kFirstChannel + channel);
  return waitFor(
      [&] {
        return window_->shownChannel() == channel && window_->liveReady() &&
               window_->channelButton(channel)->state() == chstate::kShown;
      },
      timeoutMs);
}

bool ViewerTest::waitFor(const std::function<bool()>& done, int timeoutMs) {
  return platform::processMessagesUntil(done, timeoutMs);
}

bool ViewerTest::waitForStatus(const QString& text, int timeoutMs) {
  return waitFor([&] { return window_->statusText() == text; }, timeoutMs);
}

std::vector<QString> ViewerTest::messages() const {
  std::vector<QString> texts;
  for (const auto& shown : dialogs.messages()) texts.push_back(shown.text);
  return texts;
}

}  // namespace e2e
