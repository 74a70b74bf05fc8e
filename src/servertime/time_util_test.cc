#include "servertime/time_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <limits>
#include <locale>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "support/comma_locale.h"

namespace k5_mkview {

class TimeUtilTestPeer {
 public:
  static std::uint32_t OffsetsWord() { return TimeUtil::conversionOffsets.load(); }
};

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// The bar time of a reading of the server's clock.
std::int32_t Bar(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  const sys_seconds t =
      sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
  return static_cast<std::int32_t>(t.time_since_epoch().count());
}

// Each test starts from the state at load, with the platform's own zone.
class TimeUtilTest : public ::testing::Test {
 protected:
  void SetUp() override { TimeUtil::ResetForTesting(); }
  void TearDown() override { TimeUtil::ResetForTesting(); }
};

struct ExampleCase {
  const char* name;
  std::optional<int> init;  // the InitTimeZoneInfo argument, if any
  std::int32_t bar;
  const char* text;
};

void PrintTo(const ExampleCase& c, std::ostream* os) { *os << c.name; }

class TimeUtilExampleTest : public TimeUtilTest,
                            public ::testing::WithParamInterface<ExampleCase> {};

TEST_P(TimeUtilExampleTest, BarTimeToText) {
  const ExampleCase& c = GetParam();
  if (c.init) TimeUtil::InitTimeZoneInfo(*c.init);
  EXPECT_EQ(TimeUtil::ToServerDateString(c.bar), c.text);
}

const int kIntMax = std::numeric_limits<int>::max();

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeUtilExampleTest,
    ::testing::Values(
        // Neither candidate is daylight in December, both are in July.
        ExampleCase{"Plus2December", 2, Bar(2019, 12, 23, 17, 0, 0), "2019-12-23T15:00:00Z"},
        ExampleCase{"Plus3December", 3, Bar(2019, 12, 23, 17, 0, 0), "2019-12-23T15:00:00Z"},
        ExampleCase{"Plus3July", 3, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T09:00:00Z"},
        ExampleCase{"Plus2July", 2, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T09:00:00Z"},
        ExampleCase{"Minus5July", -5, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T16:00:00Z"},
        ExampleCase{"Minus5December", -5, Bar(2019, 12, 23, 17, 0, 0), "2019-12-23T22:00:00Z"},
        // Before any InitTimeZoneInfo the server is one hour behind UTC all year.
        ExampleCase{"NoInitDecember", std::nullopt, Bar(2019, 12, 23, 17, 0, 0),
                    "2019-12-23T18:00:00Z"},
        ExampleCase{"NoInitJuly", std::nullopt, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T13:00:00Z"},
        // Every value but 2 and 3 selects the US Eastern pair, 0 included.
        ExampleCase{"ZeroJuly", 0, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T16:00:00Z"},
        ExampleCase{"ZeroDecember", 0, Bar(2019, 12, 23, 17, 0, 0), "2019-12-23T22:00:00Z"},
        ExampleCase{"OneJuly", 1, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T16:00:00Z"},
        ExampleCase{"FourJuly", 4, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T16:00:00Z"},
        ExampleCase{"IntMaxJuly", kIntMax, Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T16:00:00Z"},
        // Spring, +2 server: the summer candidate in the skipped hour is standard time, so the
        // winter candidate wins until both are daylight; the text then steps back an hour.
        ExampleCase{"SpringBefore", 2, Bar(2019, 3, 10, 4, 59, 59), "2019-03-10T02:59:59Z"},
        ExampleCase{"SpringSkippedHour", 2, Bar(2019, 3, 10, 5, 0, 0), "2019-03-10T03:00:00Z"},
        ExampleCase{"SpringSkippedHourEnd", 2, Bar(2019, 3, 10, 5, 59, 59), "2019-03-10T03:59:59Z"},
        ExampleCase{"SpringBothDaylight", 2, Bar(2019, 3, 10, 6, 0, 0), "2019-03-10T03:00:00Z"},
        // Autumn, +2 server: the winter candidate enters the repeated hour at 03:00.
        ExampleCase{"AutumnLastDaylight", 2, Bar(2019, 11, 3, 2, 59, 59), "2019-11-02T23:59:59Z"},
        ExampleCase{"AutumnRepeatedHour", 2, Bar(2019, 11, 3, 3, 0, 0), "2019-11-03T01:00:00Z"},
        ExampleCase{"AutumnBothStandard", 2, Bar(2019, 11, 3, 4, 0, 0), "2019-11-03T02:00:00Z"},
        // The same two changeovers for an Eastern server, whose candidates lie 4 and 5 hours on.
        ExampleCase{"EasternSpringBefore", -5, Bar(2019, 3, 9, 21, 59, 59), "2019-03-10T02:59:59Z"},
        ExampleCase{"EasternSpringSkippedHour", -5, Bar(2019, 3, 9, 22, 0, 0),
                    "2019-03-10T03:00:00Z"},
        ExampleCase{"EasternSpringBothDaylight", -5, Bar(2019, 3, 9, 23, 0, 0),
                    "2019-03-10T03:00:00Z"},
        ExampleCase{"EasternAutumnLastDaylight", -5, Bar(2019, 11, 2, 19, 59, 59),
                    "2019-11-02T23:59:59Z"},
        ExampleCase{"EasternAutumnRepeatedHour", -5, Bar(2019, 11, 2, 20, 0, 0),
                    "2019-11-03T01:00:00Z"}),
    [](const ::testing::TestParamInfo<ExampleCase>& info) { return info.param.name; });

// The last call wins, and a later pair replaces the earlier one whole.
TEST_F(TimeUtilTest, EachInitReplacesThePair) {
  const std::int32_t july = Bar(2019, 7, 1, 12, 0, 0);
  TimeUtil::InitTimeZoneInfo(-5);
  TimeUtil::InitTimeZoneInfo(3);
  EXPECT_EQ(TimeUtil::ToServerDateString(july), "2019-07-01T09:00:00Z");
  TimeUtil::InitTimeZoneInfo(0);
  EXPECT_EQ(TimeUtil::ToServerDateString(july), "2019-07-01T16:00:00Z");
}

TEST_F(TimeUtilTest, CalendarValueOfABarTime) {
  TimeUtil::InitTimeZoneInfo(2);
  EXPECT_EQ(TimeUtil::ToServerDateTime(Bar(2019, 12, 23, 17, 0, 0)),
            (ServerDateTime{2019, 12, 23, 15, 0, 0}));
  EXPECT_EQ(TimeUtil::ToServerDateTime(Bar(2019, 3, 1, 0, 30, 5)),
            (ServerDateTime{2019, 2, 28, 22, 30, 5}));
}

TEST_F(TimeUtilTest, TextIgnoresADigitGroupingLocale) {
  // Streams would write the year 2019 as "2.019" under these settings.
  k5test::ScopedCommaLocale locale;
  ASSERT_NE(locale.name(), nullptr) << "no German locale is installed";
  TimeUtil::InitTimeZoneInfo(2);
  EXPECT_EQ(TimeUtil::ToServerDateString(Bar(2019, 12, 23, 17, 0, 0)), "2019-12-23T15:00:00Z");
}

// "yyyy-MM-ddTHH:mm:ssZ" with every field in its range.
bool WellFormed(const std::string& text) {
  if (text.size() != 20) return false;
  const std::string shape = "dddd-dd-ddTdd:dd:ddZ";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  auto field = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  return field(5) >= 1 && field(5) <= 12 && field(8) >= 1 && field(8) <= 31 && field(11) <= 23 &&
         field(14) <= 59 && field(17) <= 59;
}

std::int64_t UtcSeconds(const ServerDateTime& t) {
  using namespace std::chrono;
  const sys_seconds s = sys_days{year{t.year} / month(t.month) / day(t.day)} + hours{t.hour} +
                        minutes{t.minute} + seconds{t.second};
  return s.time_since_epoch().count();
}

struct RangeEndCase {
  const char* name;
  std::optional<int> init;
  std::int64_t shift;    // UTC minus server clock in those winter days
  const char* min_text;  // of the smallest bar time
  const char* max_text;  // of the largest
};

void PrintTo(const RangeEndCase& c, std::ostream* os) { *os << c.name; }

class TimeUtilRangeEndTest : public TimeUtilTest,
                             public ::testing::WithParamInterface<RangeEndCase> {};

// Within five hours of either end a candidate leaves the 32-bit range: every second there still
// gives a well-formed text of exactly the right moment (both ends lie in winter).
TEST_P(TimeUtilRangeEndTest, EverySecondNearTheEnds) {
  const RangeEndCase& c = GetParam();
  if (c.init) TimeUtil::InitTimeZoneInfo(*c.init);
  EXPECT_EQ(TimeUtil::ToServerDateString(kMin), c.min_text);
  EXPECT_EQ(TimeUtil::ToServerDateString(kMax), c.max_text);
  constexpr std::int64_t kFiveHours = 5 * 3600;
  int failures = 0;
  for (std::int64_t start : {std::int64_t{kMin}, std::int64_t{kMax} - kFiveHours}) {
    for (std::int64_t bar = start; bar <= start + kFiveHours && failures < 5; ++bar) {
      const auto bar32 = static_cast<std::int32_t>(bar);
      const std::string text = TimeUtil::ToServerDateString(bar32);
      const std::int64_t utc = UtcSeconds(TimeUtil::ToServerDateTime(bar32));
      if (!WellFormed(text) || utc != bar + c.shift) {
        ++failures;
        ADD_FAILURE() << "bar time " << bar << " gave " << text << ", " << utc - bar
                      << " s from the bar time";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeUtilRangeEndTest,
    ::testing::Values(
        RangeEndCase{"NoInit", std::nullopt, 3600, "1901-12-13T21:45:52Z", "2038-01-19T04:14:07Z"},
        RangeEndCase{"Plus2", 2, -7200, "1901-12-13T18:45:52Z", "2038-01-19T01:14:07Z"},
        RangeEndCase{"Minus5", -5, 18000, "1901-12-14T01:45:52Z", "2038-01-19T08:14:07Z"}),
    [](const ::testing::TestParamInfo<RangeEndCase>& info) { return info.param.name; });

// A platform without the zone: the first use fails, every later initialisation and conversion
// reports that same failure, and the offsets are never set.
TEST_F(TimeUtilTest, MissingZoneFailsEveryUseAndNeverSetsTheOffsets) {
  const std::string missing = "Nowhere/No_Such_Zone";
  for (bool init_first : {true, false}) {
    SCOPED_TRACE(init_first ? "first use: InitTimeZoneInfo" : "first use: a conversion");
    TimeUtil::ResetForTesting(missing);
    const std::uint32_t offsets_at_load = TimeUtilTestPeer::OffsetsWord();
    std::optional<Failure> first;
    try {
      if (init_first) {
        TimeUtil::InitTimeZoneInfo(2);
      } else {
        TimeUtil::ToServerDateString(Bar(2019, 7, 1, 12, 0, 0));
      }
    } catch (const Failure& failure) {
      first = failure;
    }
    ASSERT_TRUE(first.has_value());
    EXPECT_NE(first->message().find('"' + missing + '"'), std::string::npos) << first->message();

    auto expect_same_failure = [&](const char* what, auto call) {
      try {
        call();
        ADD_FAILURE() << what << " did not fail";
      } catch (const Failure& failure) {
        EXPECT_EQ(failure.message(), first->message()) << what;
        EXPECT_EQ(failure.trace(), first->trace()) << what;
      }
    };
    for (int round = 0; round < 2; ++round) {
      expect_same_failure("InitTimeZoneInfo(2)", [] { TimeUtil::InitTimeZoneInfo(2); });
      expect_same_failure("InitTimeZoneInfo(-5)", [] { TimeUtil::InitTimeZoneInfo(-5); });
      expect_same_failure("Init(3)", [] { TimeUtil::Init(3); });
      expect_same_failure("ToServerDateString", [] { TimeUtil::ToServerDateString(0); });
      expect_same_failure("ToServerDateTime", [] { TimeUtil::ToServerDateTime(kMax); });
    }
    EXPECT_EQ(TimeUtilTestPeer::OffsetsWord(), offsets_at_load);
  }
}

// Threads that all start with a conversion race for the first lookup of the zone.
TEST_F(TimeUtilTest, FirstUseFromManyThreadsAtOnce) {
  constexpr int kThreads = 4;
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      if (TimeUtil::ToServerDateString(Bar(2019, 7, 1, 12, 0, 0)) != "2019-07-01T13:00:00Z") {
        ++wrong;
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// One thread switches between the two pairs while others convert. The July bar time has one text
// per pair; the spring bar time would give a third text, 10:00, from the summer offset of one pair
// with the winter offset of the other.
TEST_F(TimeUtilTest, ConversionsDuringInitialisationSeeOneWholePair) {
  struct Probe {
    std::int32_t bar;
    const char* plus_two_pair;
    const char* eastern_pair;
  };
  const Probe probes[] = {
      {Bar(2019, 7, 1, 12, 0, 0), "2019-07-01T09:00:00Z", "2019-07-01T16:00:00Z"},
      {Bar(2019, 3, 10, 5, 0, 0), "2019-03-10T03:00:00Z", "2019-03-10T09:00:00Z"}};
  TimeUtil::InitTimeZoneInfo(2);
  constexpr int kFlips = 20000;
  constexpr int kReaders = 3;
  constexpr int kMinReads = 2000;
  constexpr int kMaxReads = 1000000;  // bounds a reader should the flipper stall
  std::atomic<bool> go{false};
  std::atomic<bool> flipping{true};
  std::atomic<int> wrong{0};
  std::string example;  // written once, by the first reader that finds a wrong text
  std::thread flipper([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < kFlips; ++i) TimeUtil::InitTimeZoneInfo(i % 2 == 0 ? -5 : 2);
    flipping = false;
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kMaxReads && (i < kMinReads || flipping.load()); ++i) {
        const Probe& probe = probes[i % 2];
        const std::string text = TimeUtil::ToServerDateString(probe.bar);
        if (text != probe.plus_two_pair && text != probe.eastern_pair && wrong++ == 0) {
          example = text;
        }
      }
    });
  }
  go = true;
  flipper.join();
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0) << "e.g. " << example;
}

}  // namespace
}  // namespace k5_mkview
