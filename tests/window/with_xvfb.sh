#!/usr/bin/env bash
# Runs a command against an X server of its own: Xvfb, started here on a
# display number the server picks itself (-displayfd, so that parallel runs
# never race for one), stopped when the command ends.
#   with_xvfb.sh [--screen WxHxDEPTH] [NAME=VALUE...] COMMAND [ARGS...]
# The assignments are the command's environment only, not the server's.
# Listing a test program's tests (--gtest_list_tests) needs no server.
set -uo pipefail
screen=1280x1024x24
if [[ ${1:-} == --screen ]]; then
  screen=$2
  shift 2
fi
for arg; do
  [[ $arg == --gtest_list_tests ]] && exec env "$@"
done
command -v Xvfb >/dev/null || { echo "with_xvfb.sh: Xvfb is missing (Debian package xvfb)" >&2; exit 1; }

dir=$(mktemp -d)
pid=
stop() {
  [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 143' TERM INT

Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
pid=$!
for ((i = 0; i < 300; i++)); do
  [[ -s $dir/display ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
display=$(tr -dc 0-9 <"$dir/display")
if [[ -z $display ]]; then
  echo "with_xvfb.sh: Xvfb did not start:" >&2
  cat "$dir/log" >&2
  exit 1
fi
env DISPLAY=":$display" "$@"
