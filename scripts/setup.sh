#!/usr/bin/env bash
# Installs every Debian package the project needs, only those missing. Idempotent; run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config git python3 openssl ca-certificates
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev zlib1g-dev
  libcurl4-openssl-dev rapidjson-dev libutfcpp-dev libhowardhinnant-date-dev tzdata
  googletest libgtest-dev libbenchmark-dev nginx libsimdjson-dev
  clang-16 libclang-rt-16-dev
  locales
  wine wine32:i386 wine64
)

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "$need_i386" = 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  [ "$need_i386" = 1 ] && "${sudo_cmd[@]}" dpkg --add-architecture i386
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 32-bit Windows programs run under wine32, a 32-bit Linux program. Some kernels (sandboxed VMs)
# refuse to start 32-bit programs; there qemu's user-mode emulator runs them, registered with
# binfmt_misc. Debian 12's qemu 7.2 mishandles Wine's address-space reservation (a minute per
# start, crashes with threads), so it comes from bookworm-backports (10.0).
bash "$(dirname "$0")/enable-i386.sh"

# A comma-decimal locale proves that number conversion ignores the machine's regional settings.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
