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
