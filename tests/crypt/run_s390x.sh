#!/usr/bin/env bash
# Builds tests/crypt/big_endian_check.cc with the hashing library for s390x, a big-endian
# target, and runs it under qemu-user. The link is static: a dynamic one would mix the host's
# and the target's C libraries under qemu.
# Usage: run_s390x.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1
work=$2
cxx=${S390X_CXX:-s390x-linux-gnu-g++}
qemu=${S390X_QEMU:-qemu-s390x-static}
for tool in "$cxx" "$qemu"; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (see .ci/install-deps)" >&2; exit 1; }
done
mkdir -p "$work"
"$cxx" -std=c++20 -O2 -Wall -Wextra -Werror -static \
  -I "$src/src/localpasswd/crypt" -I "$src/src/agent/support" -I "$src/tests/crypt" \
  "$src"/src/localpasswd/crypt/*.cc "$src/src/agent/support/shredder.cc" "$src/tests/crypt/big_endian_check.cc" \
  -L /usr/lib/s390x-linux-gnu -lcrypt -o "$work/big_endian_check"
"$qemu" "$work/big_endian_check"
