#!/bin/sh
# Compiler and linker launcher for the DLL: runs the mingw-w64 driver of the win32 thread model
# in place of the -posix driver the build is configured with (see mingw-common.cmake).
compiler=$1
shift
case $compiler in
  *-posix) exec "${compiler%-posix}-win32" "$@" ;;
esac
echo "win32-thread-model.sh: not a -posix mingw-w64 driver: $compiler" >&2
exit 1
