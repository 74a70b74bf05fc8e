// Drives the twelve exports of the built library through the real boundary: loaded at run time,
// called through pointers of the declared calling convention, with caller buffers whose
// surroundings are checked after every call.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/abi_exports.h"

namespace {

using k5test::Exports;

constexpr char16_t kGuardUnit = u'#';
constexpr double kGuardValue = -12345.5;

// A caller text buffer: `content` and NUL, with guard units before and after that no call may touch.
class TextBuffer {
 public:
  explicit TextBuffer(std::u16string content) : incoming_(content.size()) {
    units_.assign(4, kGuardUnit);
    units_.insert(units_.end(), content.begin(), content.end());
    units_.push_back(u'\0');
    units_.insert(units_.end(), 8, kGuardUnit);
  }
  static TextBuffer Spaces(std::size_t n) { return TextBuffer(std::u16string(n, u' ')); }

  char16_t* get() { return units_.data() + 4; }
  std::u16string text() const { return std::u16string(units_.data() + 4); }
  std::string utf8() const {  // for messages only; the texts compared are ASCII
    std::u16string t = text();
    return std::string(t.begin(), t.end());
  }
  // At most incoming + 1 code units may change, all inside the buffer.
  bool Intact() const {
    for (std::size_t i = 0; i < 4; ++i) {
      if (units_[i] != kGuardUnit) return false;
    }
    for (std::size_t i = 4 + incoming_ + 1; i < units_.size(); ++i) {
      if (units_[i] != kGuardUnit) return false;
    }
    return true;
  }

 private:
  std::size_t incoming_;
  std::vector<char16_t> units_;
};

// A caller array of `n` doubles with guards on both sides.
class DoubleArray {
 public:
  explicit DoubleArray(std::size_t n) : values_(n + 4, kGuardValue) {}
  double* get() { return values_.data() + 2; }
  double at(std::size_t i) const { return values_[i + 2]; }
  bool Untouched() const {
    for (double v : values_) {
      if (v != kGuardValue) return false;
    }
    return true;
  }

 private:
  std::vector<double> values_;
};

class AbiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Exports().library, nullptr) << "the library did not load"; }
};

TEST_F(AbiTest, UnknownHandleTextIsCutToTheIncomingLength) {
  const std::u16string full = u"Invalid refnum passed in 424242";
  for (std::size_t capacity : {std::size_t{0}, std::size_t{1}, full.size() - 1, full.size(),
                               full.size() + 1, std::size_t{200}}) {
    TextBuffer err = TextBuffer::Spaces(capacity);
    EXPECT_EQ(Exports().OrderBook_Sz(424242, err.get()), -1);
    EXPECT_EQ(err.text(), full.substr(0, capacity)) << "capacity " << capacity;
    EXPECT_TRUE(err.Intact()) << "capacity " << capacity;
  }
}

TEST_F(AbiTest, BothKindsReportUnknownHandles) {
  TextBuffer a = TextBuffer::Spaces(60), b = TextBuffer::Spaces(60);
  EXPECT_EQ(Exports().OrderBook_Sz(7, a.get()), -1);
  EXPECT_EQ(Exports().PositionBook_Sz(7, b.get()), -1);
  EXPECT_EQ(a.text(), u"Invalid refnum passed in 7");
  EXPECT_EQ(b.text(), u"Invalid refnum passed in 7");
}

TEST_F(AbiTest, SucceedingCallHandsErrBackEmpty) {
  TextBuffer err = TextBuffer::Spaces(200);
  Exports().OrderBook_Free(99, err.get());
  EXPECT_EQ(err.text(), u"");
  EXPECT_TRUE(err.Intact());
  TextBuffer err2(u"left over from the caller");
  Exports().PositionBook_Free(-5, err2.get());
  EXPECT_EQ(err2.text(), u"");
}

TEST_F(AbiTest, TextIdenticalToTheEntryContentComesBackEmpty) {
  TextBuffer err(u"Invalid refnum passed in 5");
  EXPECT_EQ(Exports().OrderBook_Sz(5, err.get()), -1);
  EXPECT_EQ(err.text(), u"");
  TextBuffer other_case(u"INVALID REFNUM PASSED IN 5");
  EXPECT_EQ(Exports().OrderBook_Sz(5, other_case.get()), -1);
  EXPECT_EQ(other_case.text(), u"Invalid refnum passed in 5");
}

TEST_F(AbiTest, EmptyErrStaysEmptyAndTheResultStillSaysFailure) {
  TextBuffer err(u"");
  EXPECT_EQ(Exports().OrderBook(u"EURUSD", 0, err.get()), -1);
  EXPECT_EQ(err.text(), u"");
  EXPECT_TRUE(err.Intact());
}

TEST_F(AbiTest, NullPointersNeverCrash) {
  EXPECT_EQ(Exports().OrderBook_Sz(3, nullptr), -1);
  Exports().OrderBook_Free(3, nullptr);
  TextBuffer err = TextBuffer::Spaces(100);
  EXPECT_EQ(Exports().OrderBook(nullptr, 0, err.get()), -1);
  EXPECT_EQ(err.text().rfind(u"instrument is a null pointer\n", 0), 0u) << err.utf8();
  TextBuffer err2 = TextBuffer::Spaces(100);
  Exports().InitCreds(nullptr, 0.0, 0, 0, err2.get());
  EXPECT_EQ(err2.text().rfind(u"server is a null pointer\n", 0), 0u) << err2.utf8();
  TextBuffer err3 = TextBuffer::Spaces(100);
  Exports().OrderBook_BookData(1, nullptr, nullptr, nullptr, 3, err3.get());
  EXPECT_EQ(err3.text().rfind(u"shortCounts is a null pointer", 0), 0u) << err3.utf8();
  TextBuffer err4 = TextBuffer::Spaces(100);
  Exports().OrderBook_MetaData(1, nullptr, nullptr, 0, nullptr, nullptr, err4.get());
  EXPECT_EQ(err4.text(), u"Invalid refnum or arrSz passed in: 1, 0");
}

TEST_F(AbiTest, BookDataOfAnUnknownHandleLeavesTheArrays) {
  for (auto* data : {Exports().OrderBook_BookData, Exports().PositionBook_BookData}) {
    DoubleArray shorts(5), longs(5), prices(5);
    TextBuffer err = TextBuffer::Spaces(80);
    data(31337, shorts.get(), longs.get(), prices.get(), 5, err.get());
    EXPECT_EQ(err.text(), u"Invalid refnum passed in 31337");
    EXPECT_TRUE(shorts.Untouched() && longs.Untouched() && prices.Untouched());
    EXPECT_TRUE(err.Intact());
  }
}

TEST_F(AbiTest, MetaDataOfAnUnknownHandleOrWrongSizeChangesNoOutput) {
  struct Case {
    int refnum;
    int arrSz;
    const char16_t* text;
  };
  for (const Case& c : {Case{7, 1, u"Invalid refnum or arrSz passed in: 7, 1"},
                        Case{7, 2, u"Invalid refnum or arrSz passed in: 7, 2"},
                        Case{-1, -4, u"Invalid refnum or arrSz passed in: -1, -4"}}) {
    for (auto* meta : {Exports().OrderBook_MetaData, Exports().PositionBook_MetaData}) {
      DoubleArray width(2), price(2);
      TextBuffer time(u"unchanged time"), instrument(u"unchanged"), err = TextBuffer::Spaces(80);
      meta(c.refnum, width.get(), price.get(), c.arrSz, time.get(), instrument.get(), err.get());
      EXPECT_EQ(err.text(), c.text);
      EXPECT_TRUE(width.Untouched() && price.Untouched());
      EXPECT_EQ(time.text(), u"unchanged time");
      EXPECT_EQ(instrument.text(), u"unchanged");
      EXPECT_TRUE(time.Intact() && instrument.Intact() && err.Intact());
    }
  }
}

TEST_F(AbiTest, FailureTextIsMessageLineFeedTraceCutToTheBuffer) {
  TextBuffer err = TextBuffer::Spaces(300);
  EXPECT_EQ(Exports().PositionBook(nullptr, 0, err.get()), -1);
  std::u16string text = err.text();
  ASSERT_EQ(text.rfind(u"instrument is a null pointer\nat ", 0), 0u) << err.utf8();
  TextBuffer small = TextBuffer::Spaces(10);
  EXPECT_EQ(Exports().PositionBook(nullptr, 0, small.get()), -1);
  EXPECT_EQ(small.text(), u"instrument");
  EXPECT_TRUE(small.Intact());
}

}  // namespace
