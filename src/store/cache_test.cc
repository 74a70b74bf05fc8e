#include "store/cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "common/failure.h"

namespace k5_mkview {

// Resets the process-wide tables so each test sees a fresh store.
class CacheTestPeer {
 public:
  static void Reset() {
    Cache::_orderBookResults.entries.clear();
    Cache::_positionBookResults.entries.clear();
    Cache::_refOrderBook = 0;
    Cache::_refPositionBook = 0;
  }
  static void SetOrderCounter(std::int32_t value) { Cache::_refOrderBook = value; }
};

namespace {

BookPtr MakeBook(const char* instrument) {
  auto book = std::make_shared<Book>();
  book->instrument = book->AddText(instrument);
  return book;
}

std::optional<std::string_view> Instrument(const BookPtr& book) {
  return book->Text(book->instrument);
}

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override { CacheTestPeer::Reset(); }
};

TEST_F(CacheTest, HandlesStartAtOnePerKind) {
  EXPECT_EQ(Cache::addOrderBook(MakeBook("A")), 1);
  EXPECT_EQ(Cache::addOrderBook(MakeBook("B")), 2);
  EXPECT_EQ(Cache::addPositionBook(MakeBook("C")), 1);
  EXPECT_EQ(*Instrument(Cache::getOrderBook(2)), "B");
  EXPECT_EQ(*Instrument(Cache::getPositionBook(1)), "C");
  EXPECT_EQ(*Instrument(Cache::getOrderBook(1)), "A");  // same number, other kind, other book
}

TEST_F(CacheTest, FreedHandleIsGoneAndNeverReused) {
  Cache::addOrderBook(MakeBook("A"));
  Cache::addOrderBook(MakeBook("B"));
  Cache::freeOrderBook(2);
  EXPECT_EQ(Cache::getOrderBook(2), nullptr);
  EXPECT_EQ(Cache::addOrderBook(MakeBook("C")), 3);
  EXPECT_EQ(Cache::getOrderBook(2), nullptr);
}

TEST_F(CacheTest, UnknownHandlesYieldNothingAndFreeingThemIsHarmless) {
  Cache::addOrderBook(MakeBook("A"));
  for (std::int32_t handle : {0, -1, 2, 99, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(Cache::getOrderBook(handle), nullptr) << handle;
    Cache::freeOrderBook(handle);
  }
  Cache::freeOrderBook(1);
  Cache::freeOrderBook(1);
  EXPECT_EQ(Cache::getOrderBook(1), nullptr);
}

TEST_F(CacheTest, AbsentBookGetsAHandleButReadsAsNothing) {
  EXPECT_EQ(Cache::addOrderBook(nullptr), 1);
  EXPECT_EQ(Cache::getOrderBook(1), nullptr);
  EXPECT_EQ(Cache::addOrderBook(MakeBook("A")), 2);
}

TEST_F(CacheTest, CounterAtItsLimitFailsInsteadOfWrapping) {
  CacheTestPeer::SetOrderCounter(std::numeric_limits<std::int32_t>::max() - 1);
  EXPECT_EQ(Cache::addOrderBook(MakeBook("last")), std::numeric_limits<std::int32_t>::max());
  EXPECT_THROW(Cache::addOrderBook(MakeBook("one too many")), Failure);
  EXPECT_THROW(Cache::addOrderBook(MakeBook("still")), Failure);
  EXPECT_EQ(*Instrument(Cache::getOrderBook(std::numeric_limits<std::int32_t>::max())), "last");
  EXPECT_EQ(Cache::addPositionBook(MakeBook("other kind")), 1);  // the other table is unaffected
}

TEST_F(CacheTest, FreedBookStaysValidForAReaderThatHoldsIt) {
  Cache::addOrderBook(MakeBook("held"));
  BookPtr reader = Cache::getOrderBook(1);
  std::weak_ptr<const Book> watch = reader;
  Cache::freeOrderBook(1);
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(*Instrument(reader), "held");
  reader.reset();
  EXPECT_TRUE(watch.expired());  // and is released once the last reader is done
}

TEST_F(CacheTest, ConcurrentAddsIssueDistinctHandles) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  std::vector<std::vector<std::int32_t>> issued(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &issued] {
      for (int i = 0; i < kPerThread; ++i) {
        std::int32_t h = (i % 2 == 0) ? Cache::addOrderBook(MakeBook("x"))
                                      : Cache::addPositionBook(MakeBook("y"));
        issued[t].push_back(h);
        BookPtr book = (i % 2 == 0) ? Cache::getOrderBook(h) : Cache::getPositionBook(h);
        EXPECT_NE(book, nullptr);
        if (i % 4 == 0) Cache::freeOrderBook(h);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::int32_t> order, position;
  for (const auto& list : issued) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto& seen = (i % 2 == 0) ? order : position;
      EXPECT_TRUE(seen.insert(list[i]).second) << "handle issued twice: " << list[i];
    }
  }
  EXPECT_EQ(*order.rbegin(), kThreads * kPerThread / 2);
  EXPECT_EQ(*position.rbegin(), kThreads * kPerThread / 2);
}

}  // namespace
}  // namespace k5_mkview
