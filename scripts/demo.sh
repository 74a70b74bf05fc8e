#!/usr/bin/env bash
# The main job: installs what is missing, builds the native library, starts the local sandbox
# service on loopback and walks the road a terminal program takes (time zone, token file,
# credentials, an order book and a position book of EURUSD as of a recent bar, bucket count,
# data, metadata, free), printing the books. The sandbox is stopped again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/demo
cmake --preset native -B "$build" -DK5_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target k5-mkview k5-token k5-demo >/dev/null

state=$build/sandbox
trap 'python3 sandbox/k5_sandbox.py stop --state "$state" >/dev/null' EXIT
python3 sandbox/k5_sandbox.py start --deployment cmake/deployments/dev.cmake \
  --pki build/sandbox/pki --state "$state"

# The token file lies beside the library, as in a terminal's libraries folder.
"$build/bin/k5-token" write "$build/bin" sandbox-practice-token >/dev/null
"$build/bin/k5-demo" "TERVIK-k5 Practice-2" 2
