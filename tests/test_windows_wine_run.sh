#!/usr/bin/env bash
# Runs a Windows test program (the Windows test program, or the independent test host's
# Windows build) against the Windows module under wine:
#   test_windows_wine_run.sh WINE64 PROGRAM MODULE PREFIX [OUTPUT]
# The wine prefix lives in the build tree, is shared by the wine tests and is made on the
# first run (about 20 seconds). An output folder, when given, is emptied first, so no
# picture of an earlier run can pass for this one.
set -euo pipefail
if [ $# -ne 4 ] && [ $# -ne 5 ]; then
  echo "usage: $0 WINE64 PROGRAM MODULE PREFIX [OUTPUT]" >&2
  exit 2
fi
wine=$1 program=$2 module=$3 prefix=$4 output=${5:-}

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

# Headless and quiet: no display, no debug channels, and no offer to install Mono or Gecko
# when the prefix is made.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Unix paths as the Windows program sees them: wine maps the root to drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

wineserver=$(dirname "$wine")/wineserver
# Making a prefix has failed once in a while on a busy machine (wineboot exiting 1 with
# nothing said); a second try on a clean folder has always worked, so one retry is made
# before the test gives up, and both attempts' logs are shown then.
make_prefix() {
  local status=0
  "$wine" wineboot -i >"$prefix.log" 2>&1 || status=$?
  # The server writes the registry when it exits: wait for that before checking it.
  "$wineserver" -w || true
  [ $status -eq 0 ] && [ -f "$prefix/system.reg" ]
}
if [ ! -f "$prefix/system.reg" ]; then
  started=$SECONDS
  if ! make_prefix; then
    mv "$prefix.log" "$prefix.first.log"
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
    if ! make_prefix; then
      echo "making the wine prefix $prefix failed twice:" >&2
      cat "$prefix.first.log" "$prefix.log" >&2
      exit 1
    fi
    echo "making the wine prefix $prefix failed once and worked on the second try:"
    cat "$prefix.first.log"
  fi
  echo "made the wine prefix $prefix in $((SECONDS - started)) s"
fi

arguments=("$(windows_path "$module")")
if [ -n "$output" ]; then
  rm -rf "$output"
  mkdir -p "$output"
  arguments+=("$(windows_path "$output")")
fi
started=$SECONDS
status=0
"$wine" "$program" "${arguments[@]}" || status=$?
echo "$(basename "$program") ran under wine in $((SECONDS - started)) s, exit code $status"
# The prefix's server would linger a few seconds after the last program; stop it now, so
# the test ends when the program does.
"$wineserver" -k 2>/dev/null || true
exit $status
