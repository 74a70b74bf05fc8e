#include "access/environments.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "deployment_config.h"

namespace k5_mkview {
namespace {

class EnvironmentsTest : public ::testing::Test {
 protected:
  void SetUp() override { Environments::ResetForTesting(); }
  void TearDown() override { Environments::ResetForTesting(); }
};

struct ServerCase {
  const char* name;
  Environment env;
};

class ServerMap : public ::testing::TestWithParam<ServerCase> {};

TEST_P(ServerMap, NameGivesItsEnvironment) {
  EXPECT_EQ(Environments::ServerEnvironment(GetParam().name), GetParam().env);
}

// Every name, since a name that is off by one character would lock that server's users out.
INSTANTIATE_TEST_SUITE_P(
    AllNames, ServerMap,
    ::testing::Values(
        ServerCase{"TervikTest-NG Dev", Environment::Dev},
        ServerCase{"TervikTest-NG-2 Dev", Environment::Dev},
        ServerCase{"TervikTest-GMT+2 Dev", Environment::Dev},
        ServerCase{"TervikTest-STG-k5 Practice-1", Environment::StagingPractice},
        ServerCase{"TervikTest-STG-k5 Practice-2", Environment::StagingPractice},
        ServerCase{"TervikTest-STG-k5 Practice-3", Environment::StagingPractice},
        ServerCase{"TervikTest-STG-k5 Practice-4", Environment::StagingPractice},
        ServerCase{"TervikTest-STG-GMT-5 Practice-Test", Environment::StagingPractice},
        ServerCase{"TervikTest-STG-Japan Practice-Test", Environment::StagingPractice},
        ServerCase{"TervikTest-STG-k5 Live-1", Environment::StagingTrade},
        ServerCase{"TervikTest-STG-k5 Live-2", Environment::StagingTrade},
        ServerCase{"TervikTest-STG-k5 Live-3", Environment::StagingTrade},
        ServerCase{"TervikTest-STG-k5 Live-4", Environment::StagingTrade},
        ServerCase{"TervikTest-STG-GMT-5 Live-Test", Environment::StagingTrade},
        ServerCase{"TervikTest-STG-GMT+2 Live-Test", Environment::StagingTrade},
        ServerCase{"TervikTest-STG-Japan Live-Test", Environment::StagingTrade},
        ServerCase{"TERVIK-k5 Practice-1", Environment::Practice},
        ServerCase{"TERVIK-k5 Practice-2", Environment::Practice},
        ServerCase{"TERVIK-k5 Practice-3", Environment::Practice},
        ServerCase{"TERVIK-k5 Practice-4", Environment::Practice},
        ServerCase{"TERVIK-GMT-5 Practice", Environment::Practice},
        ServerCase{"TERVIK-Japan Practice", Environment::Practice},
        ServerCase{"TERVIK-k5 Live-1", Environment::Trade},
        ServerCase{"TERVIK-k5 Live-2", Environment::Trade},
        ServerCase{"TERVIK-k5 Live-3", Environment::Trade},
        ServerCase{"TERVIK-k5 Live-4", Environment::Trade},
        ServerCase{"TERVIK-GMT-5 Live", Environment::Trade},
        ServerCase{"TERVIK-GMT+2 Live", Environment::Trade},
        ServerCase{"TERVIK-Japan Live", Environment::Trade},
        ServerCase{"TERVIK-Japan FX Live", Environment::Trade},
        ServerCase{"TERVIK-Japan MT5 Live", Environment::Trade}));

class UnknownServer : public ::testing::TestWithParam<std::string> {};

TEST_P(UnknownServer, FailsNamingItExactly) {
  try {
    Environments::ServerEnvironment(GetParam());
    ADD_FAILURE() << "accepted";
  } catch (const Failure& e) {
    EXPECT_EQ(e.message(), "Unrecognized Server: " + GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnknownServer,
                         ::testing::Values("", "tervik-k5 practice-2", "TERVIK-K5 PRACTICE-2",
                                           "TERVIK-k5 Practice-2 ", " TERVIK-k5 Practice-2",
                                           "TERVIK-k5  Practice-2", "TERVIK-k5 Practice-2\n",
                                           "TERVIK-k5 Practice-5", "TERVIK-k5 Practice",
                                           std::string("TERVIK-k5 Practice-2\0", 21),
                                           "TervikTest-NG Dev\xC2\xA0", "Сервер-テスト"));

TEST_F(EnvironmentsTest, RecordsHoldTheDeploymentValues) {
  const deployment::EnvironmentValues* values[] = {&deployment::kDev, &deployment::kStagingPractice,
                                                   &deployment::kStagingTrade,
                                                   &deployment::kPractice, &deployment::kTrade};
  for (int i = 0; i < 5; ++i) {
    AccessDetails details = Environments::Details(static_cast<Environment>(i));
    EXPECT_EQ(details.Host, values[i]->host) << i;
    EXPECT_EQ(details.ClientId, values[i]->client_id) << i;
    EXPECT_EQ(details.ClientSecret, values[i]->client_secret) << i;
    EXPECT_EQ(details.AccessToken, std::nullopt) << i;
  }
  EXPECT_EQ(Environments::access(), nullptr);
}

TEST_F(EnvironmentsTest, ActivationStoresTheTokenInItsEnvironmentAndSwitchesAccess) {
  Environments::Activate(Environment::Practice, "p1");
  auto first = Environments::access();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->environment, Environment::Practice);
  EXPECT_EQ(first->Host, Environments::Details(Environment::Practice).Host);
  EXPECT_EQ(first->AccessToken, "p1");

  // Another environment becomes active; the first keeps its token in the table.
  Environments::Activate(Environment::Dev, "d1");
  EXPECT_EQ(Environments::access()->environment, Environment::Dev);
  EXPECT_EQ(Environments::access()->AccessToken, "d1");
  EXPECT_EQ(Environments::Details(Environment::Practice).AccessToken, "p1");
  EXPECT_EQ(first->AccessToken, "p1");  // a snapshot already taken does not change

  // Back again: the environment's token is overwritten; an absent token is stored as absent.
  Environments::Activate(Environment::Practice, "p2");
  EXPECT_EQ(Environments::Details(Environment::Practice).AccessToken, "p2");
  EXPECT_EQ(Environments::access()->AccessToken, "p2");
  Environments::Activate(Environment::Trade, std::nullopt);
  EXPECT_EQ(Environments::access()->environment, Environment::Trade);
  EXPECT_EQ(Environments::access()->AccessToken, std::nullopt);
  EXPECT_EQ(Environments::Details(Environment::Trade).AccessToken, std::nullopt);
  EXPECT_EQ(Environments::Details(Environment::Dev).AccessToken, "d1");
}

TEST_F(EnvironmentsTest, ReadersNeverSeeAHostWithAnotherStatesToken) {
  // Each token names the environment it was written for, so a reader can tell a pair taken from
  // two different states.
  constexpr Environment kSwapped[] = {Environment::Dev, Environment::Practice, Environment::Trade,
                                      Environment::StagingPractice};
  std::array<std::string, 5> hosts;
  for (int i = 0; i < 5; ++i) hosts[i] = Environments::Details(static_cast<Environment>(i)).Host;
  constexpr int kWrites = 20000;
  constexpr int kReaders = 3;
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  std::atomic<long> checked{0};
  Environments::Activate(Environment::Trade, "token-4-start");  // readers never find it empty
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      do {
        auto access = Environments::access();
        int env = static_cast<int>(access->environment);
        std::string prefix = "token-" + std::to_string(env) + "-";
        if (access->Host != hosts[env] || !access->AccessToken ||
            access->AccessToken->rfind(prefix, 0) != 0) {
          ++mismatches;
        }
        ++checked;
      } while (!done.load());
    });
  }
  for (int i = 0; i < kWrites; ++i) {
    Environment env = kSwapped[i % 4];
    Environments::Activate(
        env, "token-" + std::to_string(static_cast<int>(env)) + "-" + std::to_string(i));
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GE(checked.load(), kReaders);
  // The last write of each environment is the token it keeps.
  EXPECT_EQ(Environments::Details(Environment::StagingPractice).AccessToken,
            "token-1-" + std::to_string(kWrites - 1));
  EXPECT_EQ(Environments::Details(Environment::Trade).AccessToken,
            "token-4-" + std::to_string(kWrites - 2));
}

}  // namespace
}  // namespace k5_mkview
