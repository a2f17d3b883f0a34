// The receive side every port shares: when a notification is due.
#include "link/receive_buffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace qz {
namespace {

constexpr std::array<std::uint8_t, 4> kFour = {0x21, 0xE0, 0x00, 0xC1};  // a RESYNCH response

TEST(ReceiveBuffer, NotificationIsDueOnceTheWaitingBytesReachTheThreshold) {
  ReceiveBuffer rb;
  EXPECT_EQ(rb.Threshold(), 3);
  EXPECT_FALSE(rb.Append(std::span(kFour).first(2)));
  EXPECT_TRUE(rb.Append(std::span(kFour).subspan(2, 1)));
  EXPECT_TRUE(rb.Append(std::span(kFour).subspan(3)));  // still due while more arrive
  EXPECT_EQ(rb.TakeAll(), std::vector<std::uint8_t>(kFour.begin(), kFour.end()));
  EXPECT_EQ(rb.Size(), 0u);
  EXPECT_FALSE(rb.Due());
}

TEST(ReceiveBuffer, LoweringTheThresholdToWhatIsWaitingMakesItDueAtOnce) {
  ReceiveBuffer rb;
  rb.Append(std::span(kFour).first(1));
  EXPECT_FALSE(rb.SetThreshold(2));
  EXPECT_TRUE(rb.SetThreshold(1));
  rb.Clear();
  EXPECT_FALSE(rb.Due());
}

TEST(ReceiveBuffer, ThresholdZeroNeverNotifies) {
  ReceiveBuffer rb;
  rb.SetThreshold(0);
  EXPECT_FALSE(rb.Append(kFour));
  EXPECT_EQ(rb.Size(), 4u);
}

}  // namespace
}  // namespace qz
