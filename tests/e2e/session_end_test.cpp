// How a session ends and what it leaves for the next one: the orderly disconnect holds against
// channel and audio commands, the local one closes every connection, a refused login's box
// outlasts the connect timeout, and a DVR notice stays with its session.
#include <QCoreApplication>
#include <QKeyEvent>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

using Requests = std::vector<std::string>;

// Message boxes that stay up for a while, as a user takes time to read them.
class SlowReaderHost final : public IDialogHost {
 public:
  SlowReaderHost(IDialogHost& inner, int readMs) : inner_(inner), readMs_(readMs) {}
  void messageBox(QWidget* parent, const QString& text, MessageIcon icon) override {
    inner_.messageBox(parent, text, icon);
    platform::processMessagesUntil([] { return false; }, readMs_);
  }
  int execDialog(QDialog& dialog) override { return inner_.execDialog(dialog); }

 private:
  IDialogHost& inner_;
  int readMs_;
};

class SessionEndTest : public ViewerTest {
 protected:
  void key(int code) {
    for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent event(type, code, Qt::NoModifier);
      QCoreApplication::sendEvent(&window(), &event);
    }
  }
  // Every connection of the viewer has gone at the DVR.
  bool dvrHasNoConnections() {
    return waitFor([&] { return command("sessions") == "  no connections\n"; }, 8000);
  }
};

TEST_F(SessionEndTest, ChannelsAndAudioWaitForTheOrderlyDisconnect) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  recorder.clear();
  press(ctl::kDisconnect);
  // Before the DVR answers: buttons and keys of channels and audio.
  press(ctl::kFirstChannel + 1);
  press(ctl::kAudioOn);
  key(Qt::Key_3);
  key(Qt::Key_A);
  EXPECT_FALSE(window().audioOn());
  ASSERT_TRUE(waitForStatus(address() + " Disconnected."));
  EXPECT_EQ(recorder.requests("control"), (Requests{"REQ_LIVECLOSE", "REQ_DISCONNECT"}));
  EXPECT_EQ(window().client(), nullptr);
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  EXPECT_TRUE(window().hoverButton(ctl::kAudioOn)->isVisible());
  EXPECT_EQ(window().shownChannel(), -1);
  connectAndWait();
  EXPECT_TRUE(showChannel(1));
}

TEST_F(SessionEndTest, QuittingWhileConnectingLeavesNoClient) {
  start();
  command("fail RSP_QOSRESOLUTION 0");  // the preparation stalls: still connecting
  pressConnect();
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_QOSRESOLUTION) == 1; }));
  window().close();  // posts Disconnect; the application waits for the client to go
  EXPECT_TRUE(waitFor([&] { return window().client() == nullptr; }, 5000));
  EXPECT_TRUE(dvrHasNoConnections());
}

TEST_F(SessionEndTest, ALocalDisconnectClosesTheLiveStreamToo) {
  start();
  command("fail RSP_LIVESETUP 0");  // the live stream is logged in, the session never connects
  pressConnect();
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_LIVESETUP) == 1; }));
  ASSERT_TRUE(waitFor([&] { return command("sessions").find("live") != std::string::npos; }));
  waitFor([] { return false; }, 200);  // RSP_LIVESETUP is handled
  ASSERT_FALSE(window().isConnected());
  press(ctl::kDisconnect);
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  EXPECT_EQ(window().client(), nullptr);
  EXPECT_TRUE(dvrHasNoConnections()) << command("sessions");
  connectAndWait();
}

TEST_F(SessionEndTest, ARefusedLoginBoxOutlastsTheConnectTimeout) {
  services.connectTimeoutMs = 300;
  SlowReaderHost slowReader(dialogs, 1000);
  platform::setDialogHost(&slowReader);
  start();
  std::vector<QString> texts;
  window().onStatusText = [&](const QString& text) { texts.push_back(text); };
  command("refuse-next 2052");
  pressConnect();
  ASSERT_TRUE(waitFor([&] { return !messages().empty() && window().client() == nullptr; }, 3000));
  EXPECT_EQ(messages(), std::vector<QString>{"Invaild password. Please check it again."});
  EXPECT_EQ(window().statusText(), QString());
  EXPECT_EQ(texts, (std::vector<QString>{address() + " Connecting...", QString()}));
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  window().onStatusText = nullptr;
  platform::setDialogHost(&dialogs);
}

TEST_F(SessionEndTest, APowerOffNoticeStaysWithItsSession) {
  start();
  connectAndWait();
  command("notice power");
  ASSERT_TRUE(waitForStatus(address() + " Power off"));
  press(ctl::kDisconnect);
  ASSERT_TRUE(waitForStatus(address() + " Disconnected."));
  connectAndWait();
  EXPECT_FALSE(window().dvrLeft());
  command("drop control");
  EXPECT_TRUE(waitForStatus(address() + " Disconnected."));
}

}  // namespace
}  // namespace e2e
