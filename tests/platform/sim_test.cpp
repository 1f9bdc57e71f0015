#include "platform/hooks.h"
#include "platform_fixture.h"

namespace {

using Sim = PlatformTest;

int extraLive = 0;
int ExtraLive() { return extraLive; }

std::vector<int> resetOrder;
void FirstReset() { resetOrder.push_back(1); }
void SecondReset() { resetOrder.push_back(2); }

TEST_F(Sim, StandInsAddTheirLiveObjects) {
  platform::AddLiveObjectCounter(&ExtraLive);
  platform::AddLiveObjectCounter(&ExtraLive);  // kept once
  extraLive = 3;
  EXPECT_EQ(sim::LiveObjects(), 3);
  extraLive = 0;
}

TEST_F(Sim, ResetHooksRunInOrderOncePerReset) {
  platform::OnReset(&FirstReset);
  platform::OnReset(&SecondReset);
  platform::OnReset(&FirstReset);
  resetOrder.clear();
  sim::Reset();
  sim::Reset();
  EXPECT_EQ(resetOrder, (std::vector<int>{1, 2, 1, 2}));
}

}  // namespace
