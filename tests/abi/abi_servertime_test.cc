// InitTimeZoneInfo through the loaded library. What the offsets do to a bar time becomes visible
// at this boundary only through book requests; the conversion is tested beside its code.

#include <gtest/gtest.h>

#include <string>

#include "support/abi_exports.h"

namespace {

using k5test::Exports;

TEST(AbiServerTimeTest, InitTimeZoneInfoSucceedsWithErrEmpty) {
  ASSERT_NE(Exports().library, nullptr) << "the library did not load";
  for (int offset : {2, 3, 0, -5}) {
    // 200 spaces, the NUL, then guard units that no call may touch.
    std::u16string err = std::u16string(200, u' ') + u'\0' + u"####";
    Exports().InitTimeZoneInfo(offset, err.data());
    EXPECT_EQ(std::u16string(err.c_str()), u"") << "offset " << offset;
    EXPECT_EQ(err.substr(201), u"####") << "offset " << offset;
  }
  Exports().InitTimeZoneInfo(2, nullptr);  // a null err is not followed
}

}  // namespace
