// The main window on its own (no DVR): its message interface, layouts, display checks and the
// replies it acts on without a connection.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>

#include <array>

#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "audio/recording_wave_out.h"
#include "platform/dialog_host.h"
#include "platform/display_memory_backend.h"
#include "platform/messages.h"
#include "platform/wave_out/no_wave_out.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "ui/channel_button.h"
#include "ui/hover_button.h"

namespace {

class ViewerDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setDialogHost(&dialogs);
    services.displayBackend = &backend;
    services.waveOut = &waveOut;
  }
  void TearDown() override {
    window.reset();
    platform::setDialogHost(nullptr);
  }
  CViewerDlg& make() {
    window = std::make_unique<CViewerDlg>(services);
    EXPECT_TRUE(window->initDialog());
    window->show();
    return *window;
  }
  int send(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    return platform::sendMessage(window->windowId(), msg, wParam, lParam).value_or(-99);
  }
  int deliver(uint32_t command, std::vector<uint8_t> body, int32_t index = 0,
              uint32_t subCode = 0) {
    ReplyRecord record;
    record.index = index;
    record.command = command;
    record.subCode = subCode;
    record.length = static_cast<uint32_t>(body.size());
    record.body = body.empty() ? nullptr : body.data();
    return send(msg::kReply, 0, reinterpret_cast<intptr_t>(&record));
  }

  CRecordingDialogHost dialogs;
  CMemoryDisplayBackend backend;
  CRecordingWaveOut waveOut;
  CViewerDlg::Services services;
  std::unique_ptr<CViewerDlg> window;
};

TEST_F(ViewerDlgTest, MessageInterfaceAnswers) {
  make();
  EXPECT_EQ(send(msg::kReply, 0, 0), kRefused);
  EXPECT_EQ(deliver(RSP_DISCONNECT, {0, 1}, 17), kRefused);
  EXPECT_EQ(deliver(RSP_DISCONNECT, {0, 1}, 16), kHandled);
  EXPECT_EQ(deliver(RSP_DISCONNECT, {0, 1}, -1), kRefused);
  EXPECT_EQ(send(msg::kQuery3039, 0, 0), 1);
  EXPECT_EQ(send(msg::kQuery3040, 0, 0), 1);
  EXPECT_EQ(send(msg::kQueryClientExists, 0, 0), 0);
  RequestOrder order{0, REQ_INFOPRODUCTINFO, 0, 0};
  EXPECT_EQ(send(msg::kRequestOrder, reinterpret_cast<uintptr_t>(&order), 0), kRefused);
  EXPECT_EQ(send(msg::kDisconnectDone, 16, 0), kRefused);
  EXPECT_EQ(send(msg::kDisconnectDone, 15, 0), kHandled);
  EXPECT_EQ(send(msg::kPresetPressed, 64, 1), kRefused);  // no client
  EXPECT_EQ(send(msg::kConnectRequest, 0, 0), kRefused);
}

TEST_F(ViewerDlgTest, StartsNotConnectedWithEveryChannelUnavailable) {
  CViewerDlg& w = make();
  EXPECT_TRUE(w.hoverButton(ctl::kConnect)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kChannelMarker)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kPlus)->isVisible());
  for (int n = 0; n < 16; ++n) {
    EXPECT_EQ(w.channelButton(n)->state(), chstate::kUnavailable);
    EXPECT_EQ(w.channelButton(n)->caption(), QString::number(n + 1));
  }
  EXPECT_TRUE(w.displayReady() && w.liveReady() && !w.disconnectRequested());
  EXPECT_TRUE(backend.attached());
  EXPECT_TRUE(dialogs.messages().empty());
}

TEST_F(ViewerDlgTest, CancelledConnectLeavesTheWindowNotConnected) {
  CViewerDlg& w = make();
  dialogs.answerDialog = [](QDialog&) { return 1005; };
  send(msg::kCommand, ctl::kConnect, 0);
  EXPECT_EQ(dialogs.dialogsShown(), 1);
  EXPECT_TRUE(w.hoverButton(ctl::kConnect)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_EQ(w.client(), nullptr);
  EXPECT_FALSE(w.channelButton(0)->isEnabled());
}

TEST_F(ViewerDlgTest, LayoutsShowTheirControls) {
  CViewerDlg& w = make();
  send(msg::kCommand, ctl::kLayout1, 0);
  EXPECT_EQ(w.layout(), 1);
  for (int id : {ctl::kModeZoom, ctl::kModeFocus, ctl::kModePreset, ctl::kPlus, ctl::kUp,
                 ctl::kPadCornerTopLeft, ctl::kFirstPreset}) {
    EXPECT_TRUE(w.findChild<QWidget*>(QString::number(id))->isVisible()) << id;
  }
  EXPECT_FALSE(w.findChild<QWidget*>(QString::number(ctl::kModePantilt))->isVisible());
  EXPECT_FALSE(w.channelButton(0)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kDisconnect)->isVisible());
  send(msg::kCommand, ctl::kLayout0, 0);
  EXPECT_EQ(w.layout(), 0);
  EXPECT_TRUE(w.channelButton(15)->isVisible());
  EXPECT_TRUE(w.hoverButton(ctl::kAudioOn)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kPlus)->isVisible());
  // Button 1035 flips the view option between 1 and 4.
  send(msg::kCommand, ctl::kViewOption, 0);
  EXPECT_EQ(w.viewOption(), 4);
  send(msg::kCommand, ctl::kViewOption, 0);
  EXPECT_EQ(w.viewOption(), 1);
}

// The full-width version button is the only way between the layouts: a click on it switches
// back, and layout 0 then offers what the connection allows (here: Connect).
TEST_F(ViewerDlgTest, VersionButtonSwitchesBetweenTheLayouts) {
  CViewerDlg& w = make();
  auto* version = w.findChild<QPushButton*>(QString::number(ctl::kLayout1));
  ASSERT_NE(version, nullptr);
  version->click();
  EXPECT_EQ(w.layout(), 1);
  EXPECT_FALSE(w.hoverButton(ctl::kConnect)->isVisible());
  EXPECT_FALSE(w.channelButton(0)->isVisible());
  version->click();
  EXPECT_EQ(w.layout(), 0);
  EXPECT_TRUE(w.hoverButton(ctl::kConnect)->isVisible());
  EXPECT_TRUE(w.hoverButton(ctl::kConnect)->isEnabled());
  EXPECT_FALSE(w.hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kChannelMarker)->isVisible());
  EXPECT_TRUE(w.channelButton(15)->isVisible());
  EXPECT_FALSE(w.hoverButton(ctl::kPlus)->isVisible());
  version->click();
  EXPECT_EQ(w.layout(), 1);
}

TEST_F(ViewerDlgTest, EscapeAndReturnNeverCloseTheWindow) {
  CViewerDlg& w = make();
  for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &press);
    EXPECT_TRUE(w.isVisible()) << key;
  }
}

TEST_F(ViewerDlgTest, DisplayOtherThan16BitIsRefusedAtStartAndEveryReopen) {
  backend.setBitsPerPixel(24);
  CViewerDlg& w = make();
  ASSERT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(dialogs.messages()[0].text, "Sorry, only supporting 16bit color.");
  EXPECT_FALSE(w.display().isOpen());
  send(msg::kTimer, timers::kReopenDisplay, 0);
  EXPECT_EQ(dialogs.messages().size(), 2u);
  backend.setBitsPerPixel(16);
  send(msg::kTimer, timers::kReopenDisplay, 0);
  EXPECT_EQ(dialogs.messages().size(), 2u);
  EXPECT_TRUE(w.display().isOpen());
}

TEST_F(ViewerDlgTest, NoticesSetTheStatusLine) {
  CViewerDlg& w = make();
  auto notice = [](uint8_t type, uint32_t actor) {
    std::vector<uint8_t> body(24, 0);
    body[3] = type;
    writeBe32(body.data() + 8, actor);
    return body;
  };
  deliver(EVT_NOTICE, notice(3, 5), 0, 0x00010000);
  EXPECT_EQ(w.statusText(), "user entered into DVR Setup");
  EXPECT_TRUE(w.dvrLeft());
  deliver(EVT_NOTICE, notice(4, 0), 0, 0x00010000);
  EXPECT_EQ(w.statusText(), "admin get out of DVR Setup");
  deliver(EVT_NOTICE, notice(2, 0), 0, 0x00020000);  // subCode bits 16..23 must be 1
  EXPECT_EQ(w.statusText(), "admin get out of DVR Setup");
  deliver(EVT_NOTICE, notice(9, 0), 0, 0x00010000);  // unknown type
  EXPECT_EQ(w.statusText(), "admin get out of DVR Setup");
  std::vector<uint8_t> longer = notice(2, 0);
  longer.push_back(0);
  deliver(EVT_NOTICE, longer, 0, 0x00010000);  // exactly 24 bytes or nothing
  EXPECT_EQ(w.statusText(), "admin get out of DVR Setup");
}

TEST_F(ViewerDlgTest, ActiveCameraMasksAreStoredEvenWhenThePreparationStops) {
  CViewerDlg& w = make();
  std::vector<uint8_t> body(81, 0);
  body[1] = 1;
  writeBe32(body.data() + 67, 0x0000000A);  // B
  writeBe32(body.data() + 71, 0x00000005);  // PTZ
  writeBe32(body.data() + 75, 0x00008000);  // A
  deliver(RSP_PTZACTIVECAM, body);          // bytes 79 * 80 == 0: no further request
  EXPECT_EQ(w.ptzMask(), 5u);
  EXPECT_EQ(w.disabledMask(), 0x800Au);
  body.resize(80);
  writeBe32(body.data() + 71, 0x00000001);
  deliver(RSP_PTZACTIVECAM, body);  // too short: ignored
  EXPECT_EQ(w.ptzMask(), 5u);
}

TEST_F(ViewerDlgTest, VolumeRefusedByTheDeviceIsReported) {
  make();
  EXPECT_EQ(send(msg::kVolumeChanged, ctl::kVolume, 0xFFFF), kHandled);
  EXPECT_EQ(send(msg::kVolumeChanged, 999, 5), kHandled);  // not the slider: nothing
  uint32_t level = 0;
  waveOut.getVolume(0, &level);
  EXPECT_EQ(level, 0xFFFFFFFFu);
  window.reset();

  // A machine without a sound device refuses every volume.
  platform::CNoWaveOut none;
  services.waveOut = &none;
  CViewerDlg& w = make();
  EXPECT_EQ(w.volume(), 0u);
  EXPECT_EQ(send(msg::kVolumeChanged, ctl::kVolume, 0x1234), kRefused);
  EXPECT_EQ(w.volume(), 0x1234u);
  EXPECT_EQ(send(msg::kVolumeChanged, 999, 5), kHandled);
  EXPECT_TRUE(dialogs.messages().empty());  // refused without a message
  window.reset();                           // before the device it uses
}

}  // namespace
