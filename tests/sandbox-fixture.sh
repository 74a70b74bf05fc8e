#!/usr/bin/env bash
# The local sandbox service for the tests that talk to it.
#   sandbox-fixture.sh start <deployment.cmake> <pki dir> <state dir>
#   sandbox-fixture.sh stop <state dir>
# start also writes, into <state dir>/expected, the bodies the sandbox serves for the requests
# the tests compare against.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sandbox="python3 $here/../sandbox/k5_sandbox.py"
case "$1" in
  start)
    deployment=$2 pki=$3 state=$4
    # The ports are the deployment's, so only one sandbox runs at a time on this machine: wait
    # (at most ten minutes) for another build's test run to stop its sandbox.
    ports=$(sed -n 's/^set(K5_ENV_[A-Z_]*_HOST "https:\/\/[^:]*:\([0-9]*\)")/\1/p' "$deployment")
    for _ in $(seq 600); do
      busy=0
      for port in $ports; do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then busy=1; fi
      done
      [ "$busy" = 0 ] && break
      sleep 1
    done
    $sandbox start --deployment "$deployment" --pki "$pki" --state "$state"
    mkdir -p "$state/expected"
    $sandbox book orderBook EUR_USD 2019-12-23T15:00:00Z >"$state/expected/orderBook-EUR_USD-2019-12-23T15.json"
    $sandbox book positionBook USD_JPY >"$state/expected/positionBook-USD_JPY.json"
    ;;
  stop)
    $sandbox stop --state "$2"
    ;;
  *)
    echo "usage: $0 start <deployment> <pki> <state> | stop <state>" >&2
    exit 2
    ;;
esac
