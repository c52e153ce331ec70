// The notice connection: fixed account, notices to the main window, nothing else.
#include "client_fixture.h"

namespace {

class NoticeConnection : public ClientFixture {};

TEST_F(NoticeConnection, LogsInWithTheFixedAccountWhateverTheUser) {
  client->state().setUserId("someoneelse");
  connectAndLogin();
  EXPECT_EQ(loginOf(*notice), goldenLogin("probe_5831", "vopan"));
}

TEST_F(NoticeConnection, PostsNoticesAndConsumesEverythingElse) {
  connectAndLogin();
  notice->sendMessage(RSP_AUTHRESULT, Bytes{0, 2, 0});
  notice->sendMessage(RSP_INFO05, Bytes{0, 1});
  Bytes notice24(24, 0);
  notice24[3] = 2;
  auto header = goldenHeader(EVT_NOTICE, 24);
  writeBe32(header.data() + 13, 0x00010000);
  notice->send(concat(header, notice24));
  notice->sendMessage(EVT_NOTICE, Bytes{1, 2, 3});  // another length: still posted
  const auto replies = waitForReplies(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(fields(replies[0]),
            (ReplyFields{EVT_NOTICE, 0x00010000, kReplyFromControl, kIndex, 24, notice24, false}));
  EXPECT_EQ(fields(replies[1]),
            (ReplyFields{EVT_NOTICE, EVT_NOTICE, 0, kIndex, 3, {1, 2, 3}, false}));
  EXPECT_FALSE(moreRepliesThan(2));
}

TEST_F(NoticeConnection, ItsLossDoesNotTouchTheControlConnection) {
  connectAndLogin();
  notice->sendHeader(EVT_NOTICE, 0xFFFFFFF0);  // absurd: the client closes the connection
  EXPECT_TRUE(notice->closedByClient());
  ASSERT_TRUE(waitFor([&] { return !client->notice().channel().isRunning(); }));
  EXPECT_TRUE(client->state().connected());
  EXPECT_EQ(window.count(msg::kControlLinkLost), 0u);
  EXPECT_EQ(client->requestLiveOpen(), 1);
  EXPECT_EQ(control->readBytes(17), goldenHeader(REQ_LIVEOPEN, 0));
}

TEST_F(NoticeConnection, AttachAndConnectRefusals) {
  CNoticeConnection connection;
  EXPECT_EQ(connection.attach(0, kNoWindow, &queue), 0);
  EXPECT_EQ(connection.attach(-1, window.windowId(), &queue), 0);
  EXPECT_EQ(connection.attach(0, window.windowId(), nullptr), 0);
  EXPECT_EQ(connection.attach(0, window.windowId(), &queue), 1);
  EXPECT_EQ(connection.connect("", 80), 0);
  EXPECT_EQ(connection.disconnect(), 1);
}

}  // namespace
