// The notice connection: fixed account, notices to the main window, nothing else.
#include "client_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class NoticeConnection : public ClientFixture {};

TEST_F(NoticeConnection, LogsInWithTheFixedAccountWhateverTheUser) {
  client->state().setUserId("someoneelse");
  connectAndLogin();
  notice->sendMessage(REQ_AUTHLOGIN);
  const auto login = notice->readBytes(81);
  ASSERT_TRUE(login);
  Bytes expected = buildMessage(RSP_AUTHLOGIN, buildLoginBody("probe_5831", "vopan"));
  EXPECT_EQ(*login, expected);
  EXPECT_EQ(std::string(login->begin() + 17, login->begin() + 27), "probe_5831");
  EXPECT_EQ((*login)[27], 0);
  EXPECT_EQ(std::string(login->begin() + 49, login->begin() + 54), "vopan");
}

TEST_F(NoticeConnection, PostsNoticesAndConsumesEverythingElse) {
  connectAndLogin();
  notice->sendMessage(RSP_AUTHRESULT, Bytes{0, 2, 0});
  notice->sendMessage(RSP_INFO05, Bytes{0, 1});
  Bytes notice24(24, 0);
  notice24[3] = 2;
  auto header = MessageHeader::build(EVT_NOTICE, 24);
  writeBe32(header.data() + 13, 0x00010000);
  notice->send(header);
  notice->send(notice24);
  notice->sendMessage(EVT_NOTICE, Bytes{1, 2, 3});  // another length: still posted
  const auto replies = waitForReplies(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].record.command, EVT_NOTICE);
  EXPECT_EQ(replies[0].record.kind, kReplyFromControl);
  EXPECT_EQ(replies[0].record.subCode, 0x00010000u);
  EXPECT_EQ(replies[0].body, notice24);
  EXPECT_EQ(replies[1].record.length, 3u);
  EXPECT_FALSE(waitFor([&] { return window.replies().size() > 2; }, 100));
}

TEST_F(NoticeConnection, ItsLossDoesNotTouchTheControlConnection) {
  connectAndLogin();
  notice->sendHeader(EVT_NOTICE, 0xFFFFFFF0);  // far too long: skipped, then cut
  notice->close();
  ASSERT_TRUE(waitFor([&] { return !client->notice().channel().isRunning(); }));
  EXPECT_TRUE(client->state().connected());
  EXPECT_EQ(window.count(msg::kControlLinkLost), 0u);
  EXPECT_EQ(client->requestLiveOpen(), 1);
  EXPECT_TRUE(control->readMessage().has_value());
}

TEST_F(NoticeConnection, AttachAndConnectRefusals) {
  CNoticeConnection connection;
  ReplyQueue queue2;
  EXPECT_EQ(connection.attach(0, kNoWindow, &queue2), 0);
  EXPECT_EQ(connection.attach(-1, window.windowId(), &queue2), 0);
  EXPECT_EQ(connection.attach(0, window.windowId(), nullptr), 0);
  EXPECT_EQ(connection.attach(0, window.windowId(), &queue2), 1);
  EXPECT_EQ(connection.connect("", 80), 0);
  EXPECT_EQ(connection.disconnect(), 1);
}

}  // namespace
