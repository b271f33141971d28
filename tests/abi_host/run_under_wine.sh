#!/usr/bin/env bash
# Runs the independent test host's Windows build against the Windows module under wine:
#   run_under_wine.sh WINE64 PROGRAM MODULE PREFIX
# The wine prefix is shared with the other wine tests and made here when missing.
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: $0 WINE64 PROGRAM MODULE PREFIX" >&2
  exit 2
fi
wine=$1 program=$2 module=$3 prefix=$4

if [ ! -x "$wine" ]; then
  echo "wine64 not found ($wine): install it with scripts/setup" >&2
  exit 1
fi
for file in "$program" "$module"; do
  if [ ! -f "$file" ]; then
    echo "$file does not exist: build it with scripts/build-windows" >&2
    exit 1
  fi
done

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineserver=$(dirname "$wine")/wineserver
if [ ! -f "$prefix/system.reg" ]; then
  status=0
  "$wine" wineboot -i >"$prefix.log" 2>&1 || status=$?
  "$wineserver" -w || true
  if [ $status -ne 0 ] || [ ! -f "$prefix/system.reg" ]; then
    echo "making the wine prefix $prefix failed (exit code $status):" >&2
    cat "$prefix.log" >&2
    exit 1
  fi
fi

status=0
"$wine" "$program" "Z:${module//\//\\}" || status=$?
"$wineserver" -k 2>/dev/null || true
exit $status
