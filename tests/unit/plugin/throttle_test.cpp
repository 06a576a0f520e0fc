// The mailbox-server validation throttle expires: with every duration scaled down,
// five hours last about two seconds of the wall clock.
#include <thread>

#include "dispatch_fixture.h"
#include "qmos/clock.h"

namespace plugin_test {
namespace {

using vantiro::State;

TEST_F(DispatchTest, TheSameAddressIsValidatedAgainOnceTheThrottleHasPassed) {
  const MainThreadNotServed offline;
  Initialize();
  State().LoginAuthenticated = true;
  State().DaysToExpiry = 3;
  const std::string answer = "service_name:XXX_MessageCenterAPI\nip_address:mc1\ntcp_port:7001\n";
  const char* started = "VantiroImpl1:Publish() to spawn a new thread to check if password expired";

  const std::uint32_t first = qmos::SecondsSince1970();
  EXPECT_EQ(Publish("service_lookup_response", answer), qmos::S_OK);
  ASSERT_EQ(TraceCount(started), 1);
  if (qmos::SecondsSince1970() - first < 2) {
    EXPECT_EQ(Publish("service_lookup_response", answer), qmos::S_OK);
    EXPECT_EQ(TraceCount(started), 1);
  }
  // 18000 s x 0.0001 = 1.8 s, counted in whole seconds: 2 (one more, as the answer
  // was recorded up to a second after `first`).
  while (qmos::SecondsSince1970() - first < 3) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Publish("service_lookup_response", answer), qmos::S_OK);
  EXPECT_EQ(TraceCount(started), 2);
  // The first validation had ended, so the second one ran as well.
  EXPECT_TRUE(WaitUntil([&] { return TraceCount(kValidationNotRun) == 2; }));
  EndRun();
  State().LoginAuthenticated = false;
  State().DaysToExpiry = 0;
}

}  // namespace
}  // namespace plugin_test
