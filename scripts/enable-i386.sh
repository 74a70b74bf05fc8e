#!/usr/bin/env bash
# Makes 32-bit (i386) Linux programs runnable, which wine32 needs. Does nothing where the kernel
# runs them itself; otherwise installs qemu-user from bookworm-backports and registers it with
# binfmt_misc (root; the registration lasts until the machine restarts). Idempotent.
set -euo pipefail

runs_i386() { timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; }
runs_i386 && exit 0

qemu=/usr/bin/qemu-i386
if ! "$qemu" --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
  echo "setup: this kernel does not start 32-bit programs; installing qemu-user from bookworm-backports"
  echo 'deb http://deb.debian.org/debian bookworm-backports main' >/etc/apt/sources.list.d/k5-bookworm-backports.list
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -t bookworm-backports qemu-user >/dev/null
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount binfmt_misc -t binfmt_misc "$binfmt"
[ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
# Every i386 ELF program, fixed-address or position-independent; F opens qemu now, so the entry
# works in any mount namespace; O and C keep the program's own credentials and open file.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:OCF" >"$binfmt/register"
runs_i386 || { echo "setup: 32-bit programs still do not run"; exit 1; }
echo "setup: 32-bit programs run through $qemu"
