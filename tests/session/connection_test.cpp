// The session's connection workflow against the emulator: preparation, orderly end, refusals,
// failures, losses, two sessions at once, destruction at any moment.
#include <chrono>
#include <thread>

#include "session_fixture.h"

using Kind = dvremu::ConnectionKind;

TEST(sessionConnection, PreparesToConnectedAndEndsInAnOrderlyWay) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setWantedChannels(0x1);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  EXPECT_FALSE(session.connect(targetFor(dvr)));  // one connection at a time
  ASSERT_TRUE(waitFor([&] { return session.phase() == SessionPhase::Ready; }));
  ASSERT_EQ(listener.phases.size(), 2u);
  EXPECT_EQ(listener.phases[0],
            std::make_pair(SessionPhase::Connecting, std::string("127.0.0.1 Connecting...")));
  EXPECT_EQ(listener.phases[1],
            std::make_pair(SessionPhase::Ready, std::string("127.0.0.1 Connected.")));
  ASSERT_TRUE(listener.dvrInfo);
  EXPECT_EQ(listener.dvrInfo->channelCount, 4u);
  EXPECT_FALSE(listener.dvrInfo->model.empty());
  EXPECT_EQ(dvr.connections(Kind::Control), 1);
  EXPECT_EQ(dvr.connections(Kind::Live), 1);

  ASSERT_TRUE(waitFor([&] { return listener.frames(0) > 2; }));
  session.disconnect();
  ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }));
  EXPECT_EQ(*listener.ended,
            std::make_pair(SessionEnd::UserDisconnect, std::string("127.0.0.1 Disconnected.")));
  EXPECT_EQ(session.phase(), SessionPhase::Idle);
  EXPECT_TRUE(waitFor([&] { return dvr.emulator().core().sessionCount() == 0; }));
  // And again, on the same object.
  listener.ended.reset();
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  EXPECT_EQ(session.framesRequested(0) + session.framesDelivered(0), 0u);  // counted per connection
  EXPECT_TRUE(waitFor([&] { return session.phase() == SessionPhase::Ready; }));
}

TEST(sessionConnection, RefusesIncompleteTargets) {
  CRecordingListener listener;
  CLiveSession session(listener);
  SessionTarget target{"127.0.0.1", 9000, "demo", "demo"};
  for (auto broken : {&SessionTarget::address, &SessionTarget::userId, &SessionTarget::password}) {
    SessionTarget copy = target;
    copy.*broken = "";
    EXPECT_FALSE(session.connect(copy));
  }
  target.port = 0;
  EXPECT_FALSE(session.connect(target));
  EXPECT_TRUE(listener.phases.empty());
}

TEST(sessionConnection, ARefusedLoginShowsTheCompactWindowsTextAndEnds) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  ASSERT_TRUE(session.connect(targetFor(dvr, "wrong")));
  ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }));
  EXPECT_EQ(listener.ended->first, SessionEnd::LoginRefused);
  EXPECT_EQ(listener.messages,
            std::vector<std::string>{"Invaild password. Please check it again."});
  EXPECT_EQ(session.loginStatus(), 2052);
  EXPECT_EQ(session.phase(), SessionPhase::Idle);
}

TEST(sessionConnection, NoDvrIsAConnectFailure) {
  CRecordingListener listener;
  CLiveSession session(listener);
  SessionTarget target;
  {
    CTestDvr gone;
    target = targetFor(gone);
  }
  ASSERT_TRUE(session.connect(target));
  ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }));
  EXPECT_EQ(*listener.ended, std::make_pair(SessionEnd::ConnectFailed,
                                            std::string("127.0.0.1 Connecting failure.")));
}

TEST(sessionConnection, LinkAndStreamLossesTearTheSessionDown) {
  CTestDvr dvr;
  for (const char* drop : {"drop control", "drop live"}) {
    CRecordingListener listener;
    CLiveSession session(listener);
    session.setWantedChannels(0x1);
    ASSERT_TRUE(session.connect(targetFor(dvr)));
    ASSERT_TRUE(waitFor([&] { return listener.frames(0) > 0; })) << drop;
    dvr.command(drop);
    ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); })) << drop;
    EXPECT_EQ(*listener.ended,
              std::make_pair(std::string(drop) == "drop control" ? SessionEnd::LinkLost
                                                                 : SessionEnd::StreamLost,
                             std::string("127.0.0.1 Disconnected.")))
        << drop;
    EXPECT_EQ(listener.channels.back(), std::make_pair(0u, 0u));
    // Every connection of the session is closed: nothing stays logged in.
    EXPECT_TRUE(waitFor([&] { return dvr.emulator().core().sessionCount() == 0; })) << drop;
  }
}

TEST(sessionConnection, ANoticeIsReportedAndOutlivesTheLinkItPrecedes) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return session.phase() == SessionPhase::Ready; }));
  dvr.command("notice setup user");
  ASSERT_TRUE(waitFor([&] { return listener.notices.size() == 1; }));
  EXPECT_EQ(listener.notices[0], "user entered into DVR Setup");
  dvr.command("notice power");
  ASSERT_TRUE(waitFor([&] { return listener.notices.size() == 2; }));
  EXPECT_EQ(listener.notices[1], "127.0.0.1 Power off");
  dvr.command("drop control");
  ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }));
  EXPECT_EQ(*listener.ended,
            std::make_pair(SessionEnd::LinkLost, std::string("127.0.0.1 Power off")));
}

TEST(sessionConnection, AStalledPreparationEndsAfterTheConnectTimeout) {
  CTestDvr dvr;
  dvr.command("fault control drop 1");  // the first reply after the login never comes
  CRecordingListener listener;
  CLiveSession session(listener);
  SessionTarget target = targetFor(dvr);
  target.connectTimeoutMs = 600;
  ASSERT_TRUE(session.connect(target));
  ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }));
  EXPECT_EQ(*listener.ended, std::make_pair(SessionEnd::PreparationFailed,
                                            std::string("127.0.0.1 Connecting timeout.")));
}

TEST(sessionConnection, APreparationThatCannotGoOnEndsAtOnce) {
  struct Case {
    const char* command;
    std::string message;  // the box the compact window shows, if any
    std::string status;
  };
  const Case cases[] = {
      {"fail RSP_QOSRESOLUTION 0", "Error : RSP_QOSRESOLUTION", "Error : RSP_QOSRESOLUTION"},
      {"fail RSP_INFOCONFIGSET 0", "Error : RSP_INFOCONFIGSET", "Error : RSP_INFOCONFIGSET"},
      {"model NOSUCH1", "", "127.0.0.1 Connecting failure."},  // a model no table row knows
      {"fail RSP_LIVEOPEN 0", "", "127.0.0.1 Connection falure."},
  };
  for (const Case& c : cases) {
    CTestDvr dvr;
    dvr.command(c.command);
    CRecordingListener listener;
    CLiveSession session(listener);
    SessionTarget target = targetFor(dvr);
    target.connectTimeoutMs = 60000;  // far beyond the wait below: no timeout ends these
    ASSERT_TRUE(session.connect(target));
    ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }, 20000)) << c.command;
    EXPECT_EQ(*listener.ended, std::make_pair(SessionEnd::PreparationFailed, c.status))
        << c.command;
    EXPECT_EQ(listener.messages,
              c.message.empty() ? std::vector<std::string>{} : std::vector{c.message})
        << c.command;
  }
}

TEST(sessionConnection, AnUnansweredDisconnectFinishesLocally) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  SessionTarget target = targetFor(dvr);
  target.connectTimeoutMs = 500;
  ASSERT_TRUE(session.connect(target));
  ASSERT_TRUE(waitFor([&] { return session.phase() == SessionPhase::Ready; }));
  dvr.command("fault control drop 1");  // RSP_LIVECLOSE never comes
  session.disconnect();
  EXPECT_EQ(session.phase(), SessionPhase::Disconnecting);
  ASSERT_TRUE(waitFor([&] { return listener.ended.has_value(); }));
  EXPECT_EQ(*listener.ended, std::make_pair(SessionEnd::UserDisconnect, std::string()));
  EXPECT_TRUE(waitFor([&] { return dvr.emulator().core().sessionCount() == 0; }));
}

TEST(sessionConnection, TwoSessionsToTwoDvrsRunSideBySide) {
  CTestDvr first, second;
  CRecordingListener listenerA, listenerB;
  CLiveSession a(listenerA), b(listenerB);
  a.setWantedChannels(0x1);
  b.setWantedChannels(0x2);
  ASSERT_TRUE(a.connect(targetFor(first)));
  ASSERT_TRUE(b.connect(targetFor(second)));
  ASSERT_TRUE(waitFor([&] { return listenerA.frames(0) > 3 && listenerB.frames(1) > 3; }));
  EXPECT_EQ(listenerA.frames(1), 0u);
  EXPECT_EQ(listenerB.frames(0), 0u);
  // One DVR going away ends its own session only.
  first.command("drop control");
  ASSERT_TRUE(waitFor([&] { return listenerA.ended.has_value(); }));
  EXPECT_EQ(listenerA.ended->first, SessionEnd::LinkLost);
  const uint64_t before = listenerB.frames(1);
  EXPECT_TRUE(waitFor([&] { return listenerB.frames(1) > before + 3; }));
  EXPECT_FALSE(listenerB.ended.has_value());
  EXPECT_EQ(b.phase(), SessionPhase::Ready);
  EXPECT_EQ(listenerA.faults() + listenerB.faults(), 0);
}

TEST(sessionConnection, DestructionAtAnyMomentJoinsEverything) {
  CTestDvr dvr;
  // Right after connect, a little later (logging in, preparing), and while frames flow.
  for (const int afterMs : {0, 5, 30, 300}) {
    CRecordingListener listener;
    {
      CLiveSession session(listener);
      session.setWantedChannels(0xF);
      ASSERT_TRUE(session.connect(targetFor(dvr)));
      waitFor([] { return false; }, afterMs);
    }
    EXPECT_FALSE(listener.ended.has_value());
  }
  EXPECT_TRUE(waitFor([&] { return dvr.emulator().core().sessionCount() == 0; }));
}
