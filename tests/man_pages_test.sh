#!/bin/sh
# Every manual page renders without a warning.
status=0
for page in "$@"; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "FAIL: $page"
    echo "$warnings"
    status=1
  else
    echo "ok: $page"
  fi
done
exit $status
