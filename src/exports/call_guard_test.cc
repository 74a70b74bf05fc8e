#include "exports/call_guard.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "common/failure.h"
#include "exports/string_util.h"

namespace k5_mkview {
namespace {

struct GuardCase {
  const char* name;
  std::u16string err_on_entry;
  std::function<int(ErrText&)> work;  // writes into err through the ErrText, as the core does
  int expected_result;
  std::u16string expected_err_prefix;  // what err must start with
  bool err_empty;                      // err must come back empty
};

class CallGuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(CallGuardTest, ResultAndErrorText) {
  const GuardCase& c = GetParam();
  std::u16string storage = c.err_on_entry;
  storage.push_back(u'\0');
  storage.append(4, u'#');
  char16_t* err = storage.data();
  int result = IntWrapper([&](ErrText& text) { return c.work(text); }, err, -1);
  EXPECT_EQ(result, c.expected_result);
  std::u16string text(err);
  if (c.err_empty) {
    EXPECT_EQ(text, u"");
  } else {
    EXPECT_EQ(text.rfind(c.expected_err_prefix, 0), 0u) << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(storage.substr(c.err_on_entry.size() + 1), u"####");  // nothing past L + 1
}

const std::u16string k200Spaces(200, u' ');

INSTANTIATE_TEST_SUITE_P(
    Cases, CallGuardTest,
    ::testing::Values(
        GuardCase{"SuccessEmptiesErr", k200Spaces, [](ErrText&) { return 7; }, 7, u"", true},
        GuardCase{"FailureCutToTenUnits", std::u16string(10, u' '),
                  [](ErrText&) -> int {
                    throw Failure("a failure whose message is sixty characters long, give or take");
                  },
                  -1, u"a failure ", false},
        GuardCase{"FailureMessageLineFeedTrace", k200Spaces,
                  [](ErrText&) -> int { throw Failure("bad"); }, -1, u"bad\nat ", false},
        GuardCase{"FailureAfterPartialWork", k200Spaces,
                  [](ErrText& err) -> int {
                    StringUtil::writeString("partial", err.ForWriting());
                    throw Failure("late");
                  },
                  -1, u"late\n", false},
        GuardCase{"WorkWritesTheEntryTextBack", u"Invalid refnum passed in 5",
                  [](ErrText& err) {
                    StringUtil::writeString("Invalid refnum passed in 5", err.ForWriting());
                    return -1;
                  },
                  -1, u"", true},
        GuardCase{"WorkWritesTextAndSucceeds", k200Spaces,
                  [](ErrText& err) {
                    StringUtil::writeString("note", err.ForWriting());
                    return 3;
                  },
                  3, u"note", false},
        GuardCase{"EmptyErrStaysEmptyOnFailure", u"",
                  [](ErrText&) -> int { throw Failure("unseen"); }, -1, u"", true},
        GuardCase{"BadAlloc", k200Spaces, [](ErrText&) -> int { throw std::bad_alloc(); }, -1,
                  u"out of memory\n", false},
        GuardCase{"StandardException", k200Spaces,
                  [](ErrText&) -> int { throw std::runtime_error("runtime"); }, -1,
                  u"runtime\n", false},
        GuardCase{"ForeignType", k200Spaces, [](ErrText&) -> int { throw 42; }, -1,
                  u"unknown failure\n", false},
        GuardCase{"ErrIdenticalAfterFailureIsEmptied", u"same",
                  [](ErrText&) -> int { throw Failure("same-but-longer"); }, -1, u"", true}),
    [](const ::testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

TEST(CallGuardTest, LetterCaseCountsWhenComparingWithTheEntryText) {
  std::u16string storage = u"SAME";
  VoidWrapper([&](ErrText& err) { StringUtil::writeString("same", err.ForWriting()); },
              storage.data());
  EXPECT_EQ(std::u16string(storage.c_str()), u"same");
}

TEST(CallGuardTest, NullErrStillRunsTheWorkAndReturnsTheDefault) {
  bool ran = false;
  VoidWrapper([&] { ran = true; }, nullptr);
  EXPECT_TRUE(ran);
  EXPECT_EQ(IntWrapper([]() -> int { throw Failure("x"); }, nullptr, -1), -1);
}

}  // namespace
}  // namespace k5_mkview
