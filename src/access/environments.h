#ifndef K5_MKVIEW_ACCESS_ENVIRONMENTS_H_
#define K5_MKVIEW_ACCESS_ENVIRONMENTS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace k5_mkview {

// The deployments of the service that the library can talk to.
enum class Environment : std::int32_t {
  Dev = 0,
  StagingPractice = 1,
  StagingTrade = 2,
  Practice = 3,
  Trade = 4,
};

// One environment's record. Host, ClientId and ClientSecret are compiled in and never change.
struct AccessDetails {
  std::string Host;          // https://host[:port]; request paths are appended directly
  std::string ClientId;      // 16 characters of A-Z, a-z, 0-9
  std::string ClientSecret;  // 32 characters of A-Z, a-z, 0-9
  std::optional<std::string> AccessToken;  // absent until an initialisation for it succeeds
};

// The active record `access` as a reader sees it: the base URL and the token of one state, taken
// together, never half of an older one.
struct AccessSnapshot {
  Environment environment;
  std::string Host;
  std::optional<std::string> AccessToken;
};

// The compiled-in environment table `envs`, the trading-server map `servers` and the active
// record `access`. Both tables are built on first use. Safe to call from any thread.
class Environments {
 public:
  // The environment that the trading server `server` belongs to; names are compared exactly
  // (case and spaces count). Throws Failure "Unrecognized Server: " + server for any other name.
  static Environment ServerEnvironment(const std::string& server);

  // A copy of the record of `env` in `envs`, its current token included.
  static AccessDetails Details(Environment env);

  // The active record: null until the first successful initialisation. One call gives a
  // consistent pair; a later Activate does not change a snapshot already taken.
  static std::shared_ptr<const AccessSnapshot> access();

  // The last step of every successful initialisation: stores `token` in the record of `env` and
  // makes that record the active one, as one step for readers. Throws only std::bad_alloc, and
  // then changes nothing.
  static void Activate(Environment env, std::optional<std::string> token);

  // For tests: no active record, every token absent.
  static void ResetForTesting();
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_ACCESS_ENVIRONMENTS_H_
