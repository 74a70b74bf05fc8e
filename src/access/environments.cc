#include "access/environments.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "common/failure.h"
#include "common/mutex.h"
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
  Mutex writers;
  // Indexed by Environment. The tokens are GUARDED_BY(writers); the other fields never change.
  std::array<AccessDetails, kEnvironmentCount> envs;

  // Held only to copy or replace the pointer `access`, never while a snapshot is built or used,
  // so a book request waits at most for another thread's pointer copy. Not
  // std::atomic<std::shared_ptr>: GCC 12's load() ends its spin lock with a relaxed store, so a
  // reader's read of the pointer is not ordered before the next writer's store (a data race that
  // ThreadSanitizer reports in the stress test); a mutex orders both ways on every target.
  Mutex access_lock;
  // Replaced whole, so a reader's one copy yields a matching (Host, AccessToken) pair.
  std::shared_ptr<const AccessSnapshot> access;  // GUARDED_BY(access_lock)
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
  MutexLock lock(state.writers);
  return state.envs.at(Index(env));
}

std::shared_ptr<const AccessSnapshot> Environments::access() {
  State& state = TheState();
  MutexLock lock(state.access_lock);
  return state.access;
}

void Environments::Activate(Environment env, std::optional<std::string> token) {
  State& state = TheState();
  MutexLock lock(state.writers);
  AccessDetails& record = state.envs.at(Index(env));
  // Everything that can fail comes first, so a failure leaves the record and `access` as they were.
  auto snapshot = std::make_shared<const AccessSnapshot>(AccessSnapshot{env, record.Host, token});
  record.AccessToken = std::move(token);
  // The old snapshot is released after the lock, by its last holder: a reader never waits for it.
  MutexLock access_lock(state.access_lock);
  state.access.swap(snapshot);
}

void Environments::ResetForTesting() {
  State& state = TheState();
  MutexLock lock(state.writers);
  for (AccessDetails& record : state.envs) record.AccessToken.reset();
  MutexLock access_lock(state.access_lock);
  state.access.reset();
}

}  // namespace k5_mkview
