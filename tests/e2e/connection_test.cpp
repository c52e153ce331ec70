// The connection workflow end to end: preparation, refusals, failures, notices, disconnects.
#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "ui/channel_button.h"
#include "ui/connect_dlg.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

using Requests = std::vector<std::string>;

const Requests kPreparation = {"REQ_INFOPRODUCTINFO", "REQ_PTZACTIVECAM", "REQ_INFOCONFIGSET",
                               "REQ_QOSRESOLUTION",   "REQ_LIVEOPEN",     "REQ_LIVESETUP"};

bool notConnectedControls(CViewerDlg& window) {
  for (int n = 0; n < 16; ++n) {
    if (window.channelButton(n)->isEnabled() ||
        window.channelButton(n)->state() != chstate::kUnavailable)
      return false;
  }
  return window.hoverButton(ctl::kConnect)->isVisible() &&
         window.hoverButton(ctl::kConnect)->isEnabled() &&
         !window.hoverButton(ctl::kDisconnect)->isVisible() && window.client() == nullptr;
}

class ConnectionTest : public ViewerTest {};

TEST_F(ConnectionTest, PreparationRunsInOrderToConnected) {
  emulatorArgs = {"--channels", "6", "--disabled-mask-a", "0xFFC4", "--disabled-mask-b", "0x2"};
  start();
  connectAndWait();
  EXPECT_EQ(recorder.requests("control"), kPreparation);
  EXPECT_EQ(recorder.requests("live"), Requests{"RSP_AUTHLOGIN"});
  EXPECT_TRUE(window().isConnected());
  EXPECT_EQ(window().shownChannel(), -1);
  // Channels 2, 6 and above are masked (bits 1, 2, 6..15), the rest may be chosen.
  for (int n = 0; n < 16; ++n) {
    const bool masked = n == 1 || n == 2 || n >= 6;
    EXPECT_EQ(window().channelButton(n)->isEnabled(), !masked) << n;
    EXPECT_EQ(window().channelButton(n)->state(), masked ? chstate::kUnavailable : 0) << n;
  }
  EXPECT_TRUE(window().hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_TRUE(messages().empty());
}

TEST_F(ConnectionTest, RefusedLoginsShowTheirMessageAndTearDown) {
  const std::vector<std::pair<int, QString>> cases = {
      {2, "Already logged in with the same user name. Please check it again."},
      {2049, "A user with their administrator authority has already logged in."},
      {2050, "Exceeded the maximum number of users who can be logged in. You cannot log in."},
      {2051, "Cannot log on to DVR with current account."},
      {2052, "Invaild password. Please check it again."},
      {2053, ""},
      {2054, "The dvr of local is connecting already."},
      {2055, "The user has entered the DVR setup."},
      {7, "Auth Error"},
  };
  start();
  for (const auto& [status, text] : cases) {
    dialogs.clear();
    command("refuse-next " + std::to_string(status));
    pressConnect();
    ASSERT_TRUE(waitFor([&] {
      return window().client() == nullptr && notConnectedControls(window());
    })) << status;
    EXPECT_EQ(window().statusText(), QString()) << status;
    EXPECT_TRUE(window().addressText().isEmpty()) << status;
    if (text.isEmpty()) {
      EXPECT_TRUE(messages().empty()) << status;
    } else {
      EXPECT_EQ(messages(), std::vector<QString>{text}) << status;
    }
  }
  // The next Connect works.
  dialogs.clear();
  connectAndWait();
}

TEST_F(ConnectionTest, RefusedLiveStreamLoginTearsDownToo) {
  start();
  command("refuse-next 2052 live");
  pressConnect();
  ASSERT_TRUE(
      waitFor([&] { return window().client() == nullptr && notConnectedControls(window()); }));
  EXPECT_EQ(messages(), std::vector<QString>{"Invaild password. Please check it again."});
}

TEST_F(ConnectionTest, RefusedAudioLoginTearsDownAndTheNextConnectIsWhole) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(1));
  command("refuse-next 2055 audio");
  press(ctl::kAudioOn);
  ASSERT_TRUE(waitFor([&] { return window().client() == nullptr; }));
  EXPECT_EQ(messages(), std::vector<QString>{"The user has entered the DVR setup."});
  EXPECT_FALSE(window().audioOn());
  EXPECT_TRUE(notConnectedControls(window()));
  recorder.clear();
  connectAndWait();  // a whole preparation again, not a channel switch
  EXPECT_EQ(recorder.requests("control"), kPreparation);
  EXPECT_EQ(window().shownChannel(), -1);
}

TEST_F(ConnectionTest, UnknownModelStopsSilently) {
  start();
  command("model QQQQQQ");
  pressConnect();
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_INFOPRODUCTINFO) == 1; }));
  waitFor([] { return false; }, 600);
  EXPECT_EQ(recorder.requests("control"), (Requests{"REQ_INFOPRODUCTINFO"}));
  EXPECT_EQ(window().statusText(), address() + " Connecting...");
  EXPECT_TRUE(messages().empty());
  EXPECT_FALSE(window().isConnected());
}

TEST_F(ConnectionTest, PreparationFailuresShowErrorAndStall) {
  start();
  for (const char* reply :
       {"RSP_INFOPRODUCTINFO", "RSP_PTZACTIVECAM", "RSP_INFOCONFIGSET", "RSP_QOSRESOLUTION"}) {
    dialogs.clear();
    recorder.clear();
    command(std::string("fail ") + reply + " 0");
    pressConnect();
    ASSERT_TRUE(waitFor([&] { return !messages().empty(); })) << reply;
    EXPECT_EQ(messages(), std::vector<QString>{QStringLiteral("Error : ") + reply});
    waitFor([] { return false; }, 300);
    EXPECT_FALSE(window().isConnected()) << reply;
    EXPECT_NE(window().client(), nullptr) << reply;  // the connection stays up, stalled
    // Local: the window resets at once, and every connection goes with the client.
    press(ctl::kDisconnect);
    EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible()) << reply;
    EXPECT_FALSE(window().hoverButton(ctl::kDisconnect)->isVisible()) << reply;
    EXPECT_EQ(window().statusText(), QString()) << reply;
    EXPECT_EQ(window().client(), nullptr) << reply;
  }
}

TEST_F(ConnectionTest, OrderlyDisconnectClosesLiveThenControl) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  recorder.clear();
  press(ctl::kDisconnect);
  ASSERT_TRUE(waitForStatus(address() + " Disconnected."));
  EXPECT_EQ(recorder.requests("control"), (Requests{"REQ_LIVECLOSE", "REQ_DISCONNECT"}));
  EXPECT_TRUE(notConnectedControls(window()));
  EXPECT_TRUE(window().addressText().isEmpty());
  EXPECT_EQ(window().shownChannel(), -1);
  EXPECT_FALSE(window().hoverButton(ctl::kChannelMarker)->isVisible());
  connectAndWait();  // and again
}

TEST_F(ConnectionTest, DisconnectWithoutLiveStreamIsLocal) {
  start();
  // While still connecting: reset at once, nothing sent.
  command("fail RSP_QOSRESOLUTION 0");
  pressConnect();
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_QOSRESOLUTION) == 1; }));
  recorder.clear();
  press(ctl::kDisconnect);
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  EXPECT_EQ(window().statusText(), QString());
  waitFor([] { return false; }, 300);
  EXPECT_TRUE(recorder.requests("control").empty());
  connectAndWait();
}

TEST_F(ConnectionTest, NoticesShowAndPowerOffOutlivesTheLink) {
  start();
  connectAndWait();
  command("notice setup user");
  EXPECT_TRUE(waitForStatus("user entered into DVR Setup"));
  command("notice leave admin");
  EXPECT_TRUE(waitForStatus("admin get out of DVR Setup"));
  command("notice power");
  ASSERT_TRUE(waitForStatus(address() + " Power off"));
  command("drop control");
  ASSERT_TRUE(waitFor([&] { return window().client() == nullptr; }));
  EXPECT_EQ(window().statusText(), "127.0.0.1 Power off");
  EXPECT_TRUE(notConnectedControls(window()));
  EXPECT_FALSE(window().dvrLeft());
  // Without a notice, a lost link says so.
  connectAndWait();
  command("drop control");
  EXPECT_TRUE(waitForStatus(address() + " Disconnected."));
}

TEST_F(ConnectionTest, RefusedConnectReportsFailureOnceAndNextConnectWorks) {
  start();
  connectPort = unusedLoopbackPort();
  pressConnect();
  ASSERT_TRUE(waitForStatus(address() + " Connecting failure."));
  // The second report of the refused connect finds no client and changes nothing.
  waitFor([] { return false; }, 300);
  EXPECT_EQ(window().statusText(), address() + " Connecting failure.");
  EXPECT_TRUE(notConnectedControls(window()));
  connectPort = 0;
  connectAndWait();
}

}  // namespace
}  // namespace e2e
