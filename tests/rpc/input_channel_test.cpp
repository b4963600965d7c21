#include "rpc/input_channel.h"

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// The input loop's timed wait: a queued request comes first, a passed
// deadline with nothing queued is a time-out, and no senders is the end.
TEST(InputChannelTest, ReceiveWithADeadline) {
  const auto past = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  auto channel = std::make_shared<InputChannel>();
  std::optional<InputChannel::Sender> sender(std::in_place, channel);
  bool timed_out = true;

  auto [reply, unused] = MakeOneShot<ToolResult>();
  ASSERT_TRUE(sender->Send(InputRequest{nullptr, Json{{"n", 1}}, std::move(reply)}));
  std::optional<InputRequest> request = channel->Receive(past, &timed_out);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->params, Json({{"n", 1}}));
  EXPECT_FALSE(timed_out);

  EXPECT_FALSE(channel->Receive(past, &timed_out).has_value());
  EXPECT_TRUE(timed_out);

  sender.reset();
  EXPECT_FALSE(
      channel->Receive(std::chrono::steady_clock::now() + std::chrono::hours(1), &timed_out)
          .has_value());
  EXPECT_FALSE(timed_out);
}

}  // namespace
}  // namespace tarvix
