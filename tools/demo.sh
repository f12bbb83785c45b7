#!/usr/bin/env bash
# A short tour of the tool on a built-in default.
set -u
build=${1:-build}
bin="$build/src/main/tarvenko"
show() {
  echo "\$ $*"
  "$@"
  echo "[exit status $?]"
  echo
}
show "$bin" -v
show "$bin" -h
