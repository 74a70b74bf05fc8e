#!/usr/bin/env bash
# check-err-secrets.sh <deployment.cmake> <log dir>
# Fails when a log of err texts holds a client secret of the deployment, a token the sandbox
# issues or accepts, or a piece of an exchange's form body; and when there is nothing to scan,
# so the check cannot pass by seeing nothing. Matches are named by file, line and kind only: the
# secret itself is not printed.
set -euo pipefail
deployment=$1 logs=$2
shopt -s nullglob
files=("$logs"/*.log)
if [ ${#files[@]} -eq 0 ]; then
  echo "no err logs in $logs: the suites registered with ERR_LOG did not record any err text" >&2
  exit 1
fi
if ! grep -q . "${files[@]}"; then
  echo "the err logs in $logs are empty" >&2
  exit 1
fi
mapfile -t secrets < <(sed -n 's/^set(K5_ENV_[A-Z_]*_CLIENT_SECRET "\(.*\)")$/\1/p' "$deployment")
if [ ${#secrets[@]} -ne 5 ]; then
  echo "expected five client secrets in $deployment, found ${#secrets[@]}" >&2
  exit 1
fi
found=0
check() {  # <kind> <grep options...>
  local kind=$1
  shift
  local hits
  if hits=$(grep -H -n -o "$@" "${files[@]}" | cut -d: -f1,2); then
    while read -r where; do echo "$where: err holds $kind" >&2; done <<<"$hits"
    found=1
  fi
}
for secret in "${secrets[@]}"; do check "a client secret" -F -e "$secret"; done
check "a sandbox token" -E -e 'sandbox-[a-z_]+-token' -e 'issued-[a-z_]+-' -e 'bom-token'
check "a form body" -F -e 'client_secret=' -e 'code='
lines=$(cat "${files[@]}" | wc -l)
if [ "$found" = 0 ]; then
  echo "no secret in ${#files[@]} err logs ($lines lines)"
fi
exit "$found"
