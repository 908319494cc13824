#include "transfer/connect_outcome.h"

#include <gtest/gtest.h>

namespace vorncom::transfer {
namespace {

using O = ConnectOutcome;

TEST(ConnectOutcomeTest, ServerStatusDecidesTheOutcome) {
  const std::pair<int32_t, O> rows[] = {
      {5, O::kAvailable},       {6, O::kAvailable},       {9, O::kAvailable},
      {1, O::kNotReceiving},    {2, O::kNotSending},      {7, O::kFormNotServed},
      {8, O::kFormNotServed},   {10, O::kServerStatus10}, {11, O::kServerStatus11},
      {12, O::kServerStatus12}, {0, O::kCongested},       {3, O::kCongested},
      {4, O::kCongested},       {13, O::kCongested},      {-1, O::kCongested},
  };
  // Statuses that decide nothing leave the outcome as it was (kCongested stands for any).
  for (const auto& [status, outcome] : rows) {
    EXPECT_EQ(OutcomeOfServerStatus(status, O::kCongested), outcome) << status;
  }
}

// A refusal of one direction concerns only that direction's flow.
TEST(ConnectOutcomeTest, DirectionRefusalsConcernOneFlow) {
  const struct {
    O outcome;
    Flow flow;
    uint8_t code;
  } rows[] = {
      {O::kNotReceiving, Flow::kSend, 6},           {O::kNotReceiving, Flow::kReceive, 0},
      {O::kNotSending, Flow::kReceive, 5},          {O::kNotSending, Flow::kSend, 0},
      {O::kNotSending, Flow::kStatusQuery, 0},      {O::kServerStatus12, Flow::kSend, 33},
      {O::kServerStatus12, Flow::kStatusQuery, 32},
  };
  for (const auto& r : rows) {
    const OutcomeRule rule = RuleFor(r.outcome, r.flow);
    EXPECT_EQ(ToByte(rule.result_code), r.code);
    EXPECT_EQ(rule.notice == Notice::kNone, r.code == 0);
    EXPECT_FALSE(r.flow == Flow::kStatusQuery && rule.close_window);
  }
}

}  // namespace
}  // namespace vorncom::transfer
