// Notices pushed to the notice connections.
#include <gtest/gtest.h>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;

TEST(emulatorNotice, EachNoticeTypeWithActorAndSubCode) {
  RunningEmulator dvr;
  ScriptedConnection notice(dvr.port());
  ASSERT_EQ(notice.login("probe_5831", "vopan"), 1);
  struct Case {
    const char* command;
    uint8_t type;
    bool user;
  };
  for (const Case& c : {Case{"notice power", 2, false}, Case{"notice setup user", 3, true},
                        Case{"notice setup admin", 3, false}, Case{"notice leave user", 4, true}}) {
    EXPECT_NE(dvr.command(c.command).find("sent on 1"), std::string::npos) << c.command;
    const auto message = notice.receive();
    ASSERT_TRUE(message) << c.command;
    EXPECT_EQ(message->header.command, EVT_NOTICE);
    EXPECT_EQ((message->header.subCode >> 16) & 0xFF, 1u);
    ASSERT_EQ(message->body.size(), 24u);
    EXPECT_EQ(readBe32(message->body.data()) & 0xFF, c.type);
    EXPECT_EQ(readBe32(message->body.data() + 8) != 0, c.user) << c.command;
  }
  dvr.command("notice power subcode=0x10080001");
  const auto odd = notice.receive();
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->header.subCode, 0x10080001u);
}

TEST(emulatorNotice, ControlConnectionsGetNoNotices) {
  RunningEmulator dvr;
  ScriptedConnection control(dvr.port());
  ASSERT_EQ(control.login("demo", "demo"), 1);
  EXPECT_NE(dvr.command("notice power").find("sent on 0"), std::string::npos);
  EXPECT_FALSE(control.receive(300).has_value());
}
