#include "access/environments.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "common/failure.h"
#include "deployment_config.h"

namespace k5_mkview {
namespace {

constexpr std::size_t kEnvironmentCount = 5;

std::size_t Index(Environment env) { return static_cast<std::size_t>(env); }

AccessDetails Record(const deployment::EnvironmentValues& values) {
  return AccessDetails{std::string(values.host), std::string(values.client_id),
                       std::string(values.client_secret), std::nullopt};
}

// Process-wide; built on first use.
struct State {
  State()
      : envs{Record(deployment::kDev), Record(deployment::kStagingPractice),
             Record(deployment::kStagingTrade), Record(deployment::kPractice),
             Record(deployment::kTrade)} {}

  // Taken by whoever changes a token or the active record, and by Details() to copy a record.
  // Readers of `access` never take it.
  std::mutex writers;
  // Indexed by Environment. The tokens are GUARDED_BY(writers); the other fields never change.
  std::array<AccessDetails, kEnvironmentCount> envs;
  // Replaced whole under `writers`, read without a lock: a reader's one load yields a matching
  // (Host, AccessToken) pair.
  std::atomic<std::shared_ptr<const AccessSnapshot>> access;
};

State& TheState() {
  static State state;
  return state;
}

const std::unordered_map<std::string_view, Environment>& Servers() {
  static const std::unordered_map<std::string_view, Environment> servers{
      {"TervikTest-NG Dev", Environment::Dev},
      {"TervikTest-NG-2 Dev", Environment::Dev},
      {"TervikTest-GMT+2 Dev", Environment::Dev},
      {"TervikTest-STG-k5 Practice-1", Environment::StagingPractice},
      {"TervikTest-STG-k5 Practice-2", Environment::StagingPractice},
      {"TervikTest-STG-k5 Practice-3", Environment::StagingPractice},
      {"TervikTest-STG-k5 Practice-4", Environment::StagingPractice},
      {"TervikTest-STG-GMT-5 Practice-Test", Environment::StagingPractice},
      {"TervikTest-STG-Japan Practice-Test", Environment::StagingPractice},
      {"TervikTest-STG-k5 Live-1", Environment::StagingTrade},
      {"TervikTest-STG-k5 Live-2", Environment::StagingTrade},
      {"TervikTest-STG-k5 Live-3", Environment::StagingTrade},
      {"TervikTest-STG-k5 Live-4", Environment::StagingTrade},
      {"TervikTest-STG-GMT-5 Live-Test", Environment::StagingTrade},
      {"TervikTest-STG-GMT+2 Live-Test", Environment::StagingTrade},
      {"TervikTest-STG-Japan Live-Test", Environment::StagingTrade},
      {"TERVIK-k5 Practice-1", Environment::Practice},
      {"TERVIK-k5 Practice-2", Environment::Practice},
      {"TERVIK-k5 Practice-3", Environment::Practice},
      {"TERVIK-k5 Practice-4", Environment::Practice},
      {"TERVIK-GMT-5 Practice", Environment::Practice},
      {"TERVIK-Japan Practice", Environment::Practice},
      {"TERVIK-k5 Live-1", Environment::Trade},
      {"TERVIK-k5 Live-2", Environment::Trade},
      {"TERVIK-k5 Live-3", Environment::Trade},
      {"TERVIK-k5 Live-4", Environment::Trade},
      {"TERVIK-GMT-5 Live", Environment::Trade},
      {"TERVIK-GMT+2 Live", Environment::Trade},
      {"TERVIK-Japan Live", Environment::Trade},
      {"TERVIK-Japan FX Live", Environment::Trade},
      {"TERVIK-Japan MT5 Live", Environment::Trade},
  };
  return servers;
}

}  // namespace

Environment Environments::ServerEnvironment(const std::string& server) {
  const auto& servers = Servers();
  auto found = servers.find(std::string_view(server));
  if (found == servers.end()) throw Failure("Unrecognized Server: " + server);
  return found->second;
}

AccessDetails Environments::Details(Environment env) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.writers);
  return state.envs.at(Index(env));
}

std::shared_ptr<const AccessSnapshot> Environments::access() { return TheState().access.load(); }

void Environments::Activate(Environment env, std::optional<std::string> token) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.writers);
  AccessDetails& record = state.envs.at(Index(env));
  // Everything that can fail comes first, so a failure leaves the record and `access` as they were.
  auto snapshot = std::make_shared<const AccessSnapshot>(AccessSnapshot{env, record.Host, token});
  record.AccessToken = std::move(token);
  state.access.store(std::move(snapshot));
}

void Environments::ResetForTesting() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.writers);
  for (AccessDetails& record : state.envs) record.AccessToken.reset();
  state.access.store(nullptr);
}

}  // namespace k5_mkview
