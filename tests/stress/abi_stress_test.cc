// All twelve exports called from several threads at once through one loaded copy, against the
// sandbox: credentials switch environments (token file and code exchange) while books are
// requested, the server clock switches while bar times are converted, and books are freed while
// other threads read them. Every loop is bounded by a count. Afterwards the sandbox's request log
// must show each request carrying a base URL and a token of the same environment.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "access/code_exchange.h"
#include "access/token_file.h"
#include "deployment_config.h"
#include "support/library_copy.h"
#include "support/request_log.h"

namespace {

using k5test::Err;
using k5test::LibraryCopy;
using k5test::LoggedRequest;
using k5test::Narrow;
using k5test::ReadRequestLog;
using k5test::U16;
namespace deployment = k5_mkview::deployment;

struct EnvCase {
  const char* name;  // as the sandbox names it in tokens and in its log
  const char16_t* server;
  const deployment::EnvironmentValues* values;
};

const std::array<EnvCase, 5> kEnvs{{
    {"dev", u"TervikTest-GMT+2 Dev", &deployment::kDev},
    {"staging_practice", u"TervikTest-STG-k5 Practice-3", &deployment::kStagingPractice},
    {"staging_trade", u"TervikTest-STG-GMT-5 Live-Test", &deployment::kStagingTrade},
    {"practice", u"TERVIK-Japan Practice", &deployment::kPractice},
    {"trade", u"TERVIK-k5 Live-2", &deployment::kTrade},
}};

// Bar times on the server clock and the two texts they may become: with the +2 server clock
// (summer +3, winter +2) and with the US Eastern one (-4, -5). Near a changeover the summer offset
// of one initialisation with the winter offset of the other gives a third text, so a conversion
// that read half of each shows.
struct BarCase {
  int bar_time;
  const char16_t* plus_two;
  const char16_t* eastern;
};

constexpr std::array<BarCase, 3> kBars{{
    // 2019-03-10 00:00:00, the night daylight time starts (a mix gives 05:00).
    {1552176000, u"2019-03-09T22:00:00Z", u"2019-03-10T04:00:00Z"},
    // 2019-11-03 00:00:00, the night it ends (a mix gives 2019-11-02T22:00:00Z).
    {1572739200, u"2019-11-02T21:00:00Z", u"2019-11-03T05:00:00Z"},
    // 2019-12-23 17:00:00, deep winter.
    {1577120400, u"2019-12-23T15:00:00Z", u"2019-12-23T22:00:00Z"},
}};

// The instruments only this test asks for, so its lines in the shared request log are its own.
constexpr const char16_t* kOrderInstrument = u"STRESS_ORDER";
constexpr const char16_t* kPositionInstrument = u"STRESS_POSITION";
constexpr int kMagic = 0x5354;  // marks the codes this test exchanges
constexpr int kArraySize = 400;  // more than any book of the sandbox has buckets (at most 300)

constexpr int kFileSwitches = 40;
constexpr int kExchanges = 15;
constexpr int kClockSwitches = 400;
constexpr int kBookThreads = 2;
constexpr int kBooksPerThread = 24;
constexpr int kReaderThreads = 2;
constexpr int kReadsPerReader = 600;

// The magic number's four bytes as they stand in a code (bytes 8 to 11 of 16).
const std::string kMagicInCode = k5_mkview::CodeExchange::AssembleCode(0, kMagic, 0).substr(16, 8);

// The code in an exchange's form body, or 32 spaces.
std::string ExchangedCode(const std::string& body) {
  std::size_t at = body.find("&code=");
  return at == std::string::npos ? std::string(32, ' ') : body.substr(at + 6, 32);
}

int PortOf(std::string_view host) {
  return std::stoi(std::string(host.substr(host.rfind(':') + 1)));
}

// Failures found on the worker threads, reported on the main one.
class Problems {
 public:
  void Add(std::string text) {
    std::lock_guard<std::mutex> lock(lock_);
    if (texts_.size() < 20) texts_.push_back(std::move(text));
    ++count_;
  }
  void Report() const {
    std::lock_guard<std::mutex> lock(lock_);
    EXPECT_EQ(count_, 0u) << "problems on the worker threads";
    for (const std::string& text : texts_) ADD_FAILURE() << text;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> texts_;
  std::size_t count_ = 0;
};

struct Handle {
  bool order;  // the kind: order book or position book
  int refnum;
};

// Handles published by the book threads for the readers and the freer.
class Published {
 public:
  void Add(Handle h) {
    std::lock_guard<std::mutex> lock(lock_);
    handles_.push_back(h);
  }
  std::optional<Handle> Latest(std::size_t back) const {
    std::lock_guard<std::mutex> lock(lock_);
    if (handles_.empty()) return std::nullopt;
    return handles_[handles_.size() - 1 - back % handles_.size()];
  }
  std::optional<Handle> At(std::size_t i) const {
    std::lock_guard<std::mutex> lock(lock_);
    if (i >= handles_.size()) return std::nullopt;
    return handles_[i];
  }

 private:
  mutable std::mutex lock_;
  std::vector<Handle> handles_;
};

class AbiStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_ = std::make_unique<LibraryCopy>(u8"k5-abi-stress");
    ASSERT_TRUE(copy_->loaded()) << copy_->error();
    // The Dev servers' certificates cannot be verified: one Dev exchange first turns validation off
    // in this copy, so every environment can serve books during the run.
    ASSERT_EQ(copy_->InitCreds(kEnvs[0].server, 1.5, kMagic, 1), u"");
    Err err;
    lib().InitTimeZoneInfo(2, err.get());
    ASSERT_EQ(err.text(), u"");
  }

  const k5test::K5Exports& lib() const { return copy_->exports(); }

  // One read of `h` with each reading export: each is whole or names the handle as invalid.
  void ReadOnce(const Handle& h) {
    const std::u16string invalid = U16("Invalid refnum passed in " + std::to_string(h.refnum));
    Err err;
    int size = h.order ? lib().OrderBook_Sz(h.refnum, err.get())
                       : lib().PositionBook_Sz(h.refnum, err.get());
    if (!(size > 0 && err.text().empty()) && !(size == -1 && err.text() == invalid)) {
      problems_.Add("_Sz of " + std::to_string(h.refnum) + ": " + std::to_string(size) + ", " +
                    Narrow(err.text()));
    }

    std::vector<double> shorts(kArraySize, NAN), longs(kArraySize, NAN), prices(kArraySize, NAN);
    (h.order ? lib().OrderBook_BookData : lib().PositionBook_BookData)(
        h.refnum, shorts.data(), longs.data(), prices.data(), kArraySize, err.get());
    std::size_t filled = 0;
    while (filled < prices.size() && !std::isnan(prices[filled])) ++filled;
    double short_sum = 0, long_sum = 0;
    for (std::size_t i = 0; i < filled; ++i) {
      short_sum += shorts[i];
      long_sum += longs[i];
    }
    // Each side of a sandbox book adds up to 100 percent: only a whole book does.
    bool whole = err.text().empty() && filled > 0 && std::abs(short_sum - 100) < 0.01 &&
                 std::abs(long_sum - 100) < 0.01;
    bool refused = err.text() == invalid && filled == 0 && std::isnan(shorts[0]);
    if (!whole && !refused) {
      problems_.Add("_BookData of " + std::to_string(h.refnum) + ": " + std::to_string(filled) +
                    " buckets, sums " + std::to_string(short_sum) + "/" +
                    std::to_string(long_sum) + ", " + Narrow(err.text()));
    }

    double width = NAN, price = NAN;
    std::u16string time(40, u' '), instrument(40, u' ');
    (h.order ? lib().OrderBook_MetaData : lib().PositionBook_MetaData)(
        h.refnum, &width, &price, 1, time.data(), instrument.data(), err.get());
    std::u16string instrument_text(instrument.c_str());
    std::u16string expected_instrument =
        h.order ? u"STRESS_ORDER" : u"STRESS_POSITION";
    bool meta_whole = err.text().empty() && width > 0 && price > 0 &&
                      instrument_text == expected_instrument &&
                      std::u16string(time.c_str()).size() == 20;
    bool meta_refused =
        err.text() ==
            U16("Invalid refnum or arrSz passed in: " + std::to_string(h.refnum) + ", 1") &&
        std::isnan(width) && std::isnan(price) && time == std::u16string(40, u' ');
    if (!meta_whole && !meta_refused) {
      problems_.Add("_MetaData of " + std::to_string(h.refnum) + ": " + Narrow(err.text()) +
                    " instrument " + Narrow(instrument_text));
    }
  }

  std::unique_ptr<LibraryCopy> copy_;
  Problems problems_;
};

TEST_F(AbiStressTest, AllExportsAtOnce) {
  Published published;
  std::atomic<int> books_running{kBookThreads};
  std::mutex handles_lock;
  std::set<int> order_handles, position_handles;  // GUARDED_BY(handles_lock)
  std::vector<std::thread> threads;

  // InitCreds from the token file, cycling through the environments. This thread alone writes
  // and reads the file, so each initialisation reads the token written for it.
  threads.emplace_back([&] {
    for (int i = 0; i < kFileSwitches; ++i) {
      const EnvCase& env = kEnvs[i % kEnvs.size()];
      copy_->WriteTokenFile(
          k5_mkview::TokenFile::encrypt("sandbox-" + std::string(env.name) + "-token"));
      std::u16string err = copy_->InitCreds(env.server);
      if (!err.empty()) problems_.Add("InitCreds for " + std::string(env.name) + ": " + Narrow(err));
    }
  });
  // InitCreds by code exchange, in another order.
  threads.emplace_back([&] {
    for (int i = 0; i < kExchanges; ++i) {
      const EnvCase& env = kEnvs[(3 * i + 1) % kEnvs.size()];
      std::u16string err = copy_->InitCreds(env.server, 2.5, kMagic, 100 + i);
      if (!err.empty()) problems_.Add("exchange for " + std::string(env.name) + ": " + Narrow(err));
    }
  });
  // The server clock switches back and forth.
  threads.emplace_back([&] {
    for (int i = 0; i < kClockSwitches; ++i) {
      Err err;
      lib().InitTimeZoneInfo(i % 2 == 0 ? -5 : 3, err.get());
      if (!err.text().empty()) problems_.Add("InitTimeZoneInfo: " + Narrow(err.text()));
    }
  });
  // Books as of bar times; each handle is new, and its time text is one clock's whole result.
  for (int t = 0; t < kBookThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kBooksPerThread; ++i) {
        const bool order = (i + t) % 2 == 0;
        const BarCase& bar = kBars[(i / 2 + t) % kBars.size()];
        Err err;
        int refnum = order ? lib().OrderBook(kOrderInstrument, bar.bar_time, err.get())
                           : lib().PositionBook(kPositionInstrument, bar.bar_time, err.get());
        if (refnum < 1) {
          problems_.Add("book request: " + std::to_string(refnum) + ", " + Narrow(err.text()));
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(handles_lock);
          if (!(order ? order_handles : position_handles).insert(refnum).second) {
            problems_.Add("handle " + std::to_string(refnum) + " issued twice");
          }
        }
        double width = 0, price = 0;
        std::u16string time(40, u' '), instrument(40, u' ');
        (order ? lib().OrderBook_MetaData : lib().PositionBook_MetaData)(
            refnum, &width, &price, 1, time.data(), instrument.data(), err.get());
        std::u16string time_text(time.c_str());
        if (time_text != bar.plus_two && time_text != bar.eastern) {
          problems_.Add("bar time " + std::to_string(bar.bar_time) + " became " +
                        Narrow(time_text) + " " + Narrow(err.text()));
        }
        published.Add({order, refnum});
      }
      books_running.fetch_sub(1);
    });
  }
  // Readers of the latest handles, while the freer below frees them.
  for (int r = 0; r < kReaderThreads; ++r) {
    threads.emplace_back([&, r] {
      for (int i = 0; i < kReadsPerReader; ++i) {
        std::optional<Handle> h = published.Latest(static_cast<std::size_t>(i + r) % 3);
        if (!h) {
          std::this_thread::yield();
          continue;
        }
        ReadOnce(*h);
      }
    });
  }
  // Frees every published handle, one to three reads behind the newest.
  threads.emplace_back([&] {
    std::size_t next = 0;
    const std::size_t total = kBookThreads * kBooksPerThread;
    for (std::size_t spins = 0; next < total && spins < 10'000'000; ++spins) {
      std::optional<Handle> h = published.At(next);
      if (!h) {
        if (books_running.load() == 0 && !published.At(next)) break;  // a request failed
        std::this_thread::yield();
        continue;
      }
      Err err;
      (h->order ? lib().OrderBook_Free : lib().PositionBook_Free)(h->refnum, err.get());
      if (!err.text().empty()) problems_.Add("_Free: " + Narrow(err.text()));
      ++next;
    }
  });
  for (std::thread& thread : threads) thread.join();
  problems_.Report();

  // Every handle is gone once freed.
  std::lock_guard<std::mutex> lock(handles_lock);
  EXPECT_EQ(order_handles.size() + position_handles.size(),
            static_cast<std::size_t>(kBookThreads * kBooksPerThread));
  for (int refnum : order_handles) {
    Err err;
    EXPECT_EQ(lib().OrderBook_Sz(refnum, err.get()), -1) << refnum;
  }
}

// What reached the sandbox: each of this test's book requests went to the port of the environment
// its token names, and each of its exchanges carried that port's own client id.
TEST_F(AbiStressTest, EveryRequestPairsItsBaseUrlWithItsEnvironmentsToken) {
  // The requests of the test above are in the log too when it ran first in this process; natively
  // each test runs in a process of its own, so this test makes a short run of its own first.
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < 10; ++i) {
      const EnvCase& env = kEnvs[i % kEnvs.size()];
      copy_->WriteTokenFile(
          k5_mkview::TokenFile::encrypt("sandbox-" + std::string(env.name) + "-token"));
      EXPECT_EQ(copy_->InitCreds(env.server), u"");
      EXPECT_EQ(copy_->InitCreds(kEnvs[(i + 2) % kEnvs.size()].server, 3.5, kMagic, 200 + i), u"");
    }
  });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        Err err;
        int refnum = lib().OrderBook(kOrderInstrument, 0, err.get());
        EXPECT_GE(refnum, 1) << Narrow(err.text());
        lib().OrderBook_Free(refnum, err.get());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<LoggedRequest> log = ReadRequestLog(K5_SANDBOX_REQUEST_LOG);
  ASSERT_FALSE(log.empty()) << K5_SANDBOX_REQUEST_LOG;
  int books = 0, exchanges = 0;
  for (const LoggedRequest& request : log) {
    const std::string& target = request.target;
    const std::string& logged_env = request.env;
    const int port = request.port;
    const std::string& body = request.body;
    const std::string authorization = request.Header("authorization").value_or("");
    const std::string line = request.method + " " + target + " (" + logged_env + ")";
    if (target.rfind("/v3/instruments/STRESS_", 0) == 0) {
      // "Bearer sandbox-<env>-token" or "Bearer issued-<env>-<code>".
      const EnvCase* named = nullptr;
      for (const EnvCase& env : kEnvs) {
        if (authorization == "Bearer sandbox-" + std::string(env.name) + "-token" ||
            authorization.rfind("Bearer issued-" + std::string(env.name) + "-", 0) == 0) {
          named = &env;
        }
      }
      ASSERT_NE(named, nullptr) << "token of no environment: " << authorization << " in " << line;
      EXPECT_EQ(port, PortOf(named->values->host)) << line;
      EXPECT_EQ(logged_env, named->name) << line;
      ++books;
    } else if (target == "/v1/oauth2/access_token" &&
               ExchangedCode(body).compare(16, 8, kMagicInCode) == 0) {
      const EnvCase* owner = nullptr;
      for (const EnvCase& env : kEnvs) {
        if (PortOf(env.values->host) == port) owner = &env;
      }
      ASSERT_NE(owner, nullptr) << line;
      EXPECT_EQ(body.rfind("client_id=" + std::string(owner->values->client_id) + "&", 0), 0u)
          << line;
      ++exchanges;
    }
  }
  EXPECT_GE(books, 20);
  EXPECT_GE(exchanges, 10);
}

}  // namespace
