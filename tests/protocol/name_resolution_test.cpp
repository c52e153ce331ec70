// Host names: resolved on the connecting thread, the last IPv4 address used, a slow lookup
// abandoned by a close.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "client_fixture.h"
#include "protocol/host_resolver.h"

namespace {

class NameResolution : public ClientFixture {};

// A name lookup the test controls: it answers with `addresses`, once released.
class ControlledLookup {
 public:
  explicit ControlledLookup(std::vector<std::string> addresses, bool released = true)
      : state_(std::make_shared<State>()) {
    state_->addresses = std::move(addresses);
    state_->released = released;
    setHostLookupForTesting([state = state_](const std::string&) {
      std::unique_lock lock(state->mutex);
      ++state->calls;
      state->cv.wait(lock, [&] { return state->released; });
      return state->addresses;
    });
  }
  ~ControlledLookup() {
    release();
    setHostLookupForTesting(nullptr);
  }
  void release() {
    std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->cv.notify_all();
  }
  int calls() const {
    std::lock_guard lock(state_->mutex);
    return state_->calls;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> addresses;
    bool released = false;
    int calls = 0;
  };
  std::shared_ptr<State> state_;
};

TEST_F(NameResolution, AHostNameIsResolvedOnTheControlThreadAndItsLastAddressUsed) {
  ControlledLookup lookup({"192.0.2.7", "127.0.0.1"});
  EXPECT_EQ(connectAndLogin("dvr.example"), goldenLogin("admin", "secret"));
  EXPECT_EQ(client->state().address(), "127.0.0.1");
  EXPECT_EQ(client->controlChannel().address(), "127.0.0.1");
  openStream();  // the live stream goes to the resolved address too
}

TEST_F(NameResolution, ANameLookupNeitherBlocksTheCallerNorACloseAndAFailedOneFailsTheConnect) {
  {
    ControlledLookup slow({"127.0.0.1"}, false);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client->connectControl("slow.example", listener.port()), 1);
    ASSERT_TRUE(waitUnpumped([&] { return slow.calls() == 1; }));
    EXPECT_EQ(client->disconnectControl(), 1);  // abandons the lookup
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(client->controlChannel().hasLiveThread());
  }
  EXPECT_FALSE(listener.accept(50));
  ControlledLookup unknown({});
  ASSERT_EQ(client->connectControl("unknown.example", listener.port()), 1);
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlConnectResult) == 2; }));
  EXPECT_EQ(window.messages[0].lParam, -1);
  EXPECT_TRUE(client->connectFailed());
}

TEST(HostResolver, DottedAddressesNeedNoLookupAndNamesUseTheSystemResolver) {
  ControlledLookup none({}, false);  // would block for ever if it were asked
  EXPECT_EQ(resolveForConnect("10.1.2.3", [] { return false; }), "10.1.2.3");
  EXPECT_EQ(resolveForConnect("", [] { return false; }), std::nullopt);
  EXPECT_EQ(none.calls(), 0);
  setHostLookupForTesting(nullptr);
  const auto local = lookupIpv4Addresses("localhost");
  EXPECT_NE(std::find(local.begin(), local.end(), "127.0.0.1"), local.end());
}

}  // namespace
