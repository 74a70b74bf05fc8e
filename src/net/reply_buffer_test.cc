#include "net/reply_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace k5_mkview {
namespace {

// Limits that are and are not powers of two, and pieces that do and do not divide them.
struct GrowthCase {
  std::size_t limit;
  std::size_t piece;
};

class AppendWithinLimitTest : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(AppendWithinLimitTest, FillsUpToTheLimitWithoutReservingMore) {
  const GrowthCase c = GetParam();
  std::string body;
  std::string piece(c.piece, 'x');
  std::size_t appended = 0;
  while (appended + c.piece <= c.limit) {
    piece[0] = static_cast<char>('a' + appended % 26);  // each piece lands in its own place
    ASSERT_TRUE(AppendWithinLimit(&body, piece, c.limit)) << appended;
    appended += c.piece;
    ASSERT_LE(body.capacity(), c.limit) << "after " << appended << " bytes";
  }
  ASSERT_EQ(body.size(), appended);
  for (std::size_t at = 0; at < appended; at += c.piece) {
    ASSERT_EQ(body[at], static_cast<char>('a' + at % 26)) << at;
  }
  // The rest up to the limit exactly still fits; one byte more does not and changes nothing.
  std::string rest(c.limit - appended, 'y');
  ASSERT_TRUE(AppendWithinLimit(&body, rest, c.limit));
  EXPECT_EQ(body.size(), c.limit);
  EXPECT_LE(body.capacity(), c.limit);
  const std::string full = body;
  EXPECT_FALSE(AppendWithinLimit(&body, "z", c.limit));
  EXPECT_EQ(body, full);
}

INSTANTIATE_TEST_SUITE_P(Limits, AppendWithinLimitTest,
                         ::testing::Values(GrowthCase{1 << 20, 16384},
                                           GrowthCase{(1 << 20) + 17, 16384},
                                           GrowthCase{3000001, 8191}, GrowthCase{100, 1}),
                         [](const ::testing::TestParamInfo<GrowthCase>& info) {
                           return "Limit" + std::to_string(info.param.limit) + "Piece" +
                                  std::to_string(info.param.piece);
                         });

TEST(AppendWithinLimitTest, RefusesWhatWouldEndPastTheLimit) {
  std::string body = "abc";
  EXPECT_FALSE(AppendWithinLimit(&body, std::string(1001, 'd'), 1000));
  EXPECT_FALSE(AppendWithinLimit(&body, std::string(998, 'd'), 1000));
  EXPECT_EQ(body, "abc");
  EXPECT_TRUE(AppendWithinLimit(&body, std::string(997, 'd'), 1000));
  EXPECT_EQ(body.size(), 1000u);
}

}  // namespace
}  // namespace k5_mkview
