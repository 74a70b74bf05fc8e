#!/usr/bin/env bash
# The benchmark command: builds Release binaries with the benchmark's own deployment
# (bench/deployment.cmake, every environment at the benchmark's nginx on loopback), then
# bench/run_bench.py starts nginx, runs everything side by side and prints one table.
# K5_BENCH_WIN32=0 leaves out the 32-bit Windows figures (two more builds and Wine).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
./scripts/setup.sh
python3 sandbox/k5_sandbox.py pki --pki build/sandbox/pki >/dev/null
deployment=$here/bench/deployment.cmake

configure() {  # <folder> <preset> [cmake arguments...]
  local folder=$1 preset=$2
  shift 2
  cmake --preset "$preset" -B "$folder" -DCMAKE_BUILD_TYPE=Release -DK5_BUILD_TESTS=ON \
    -DK5_DEPLOYMENT_FILE="$deployment" "$@" >/dev/null
}

configure build/bench native
nice -n 5 cmake --build build/bench -j2 --target k5-mkview k5_fetch_bench k5_mapping_bench >/dev/null

win32_args=()
if [ "${K5_BENCH_WIN32:-1}" != 0 ]; then
  # The 32-bit DLL as shipped (x87 floating point) and built for SSE2.
  configure build/bench-win32-x87 win32
  configure build/bench-win32-sse2 win32 -DCMAKE_C_FLAGS="-msse2 -mfpmath=sse" \
    -DCMAKE_CXX_FLAGS="-msse2 -mfpmath=sse"
  for variant in x87 sse2; do
    nice -n 5 cmake --build "build/bench-win32-$variant" -j2 --target k5-mkview k5_fetch_bench \
      k5_trust_ca >/dev/null
    win32_args+=(--win32 "$variant=$here/build/bench-win32-$variant/bin")
  done
  # WinHTTP in the project's Wine prefix trusts the sandbox's test CA, as the Windows tests do.
  ./scripts/wine-run.sh build/bench-win32-x87/bin/k5_trust_ca.exe "Z:$here/build/sandbox/pki/ca.pem" >/dev/null
fi

python3 bench/run_bench.py --bin "$here/build/bench/bin" --pki "$here/build/sandbox/pki" \
  --work "$here/build/bench/run" "${win32_args[@]}"
