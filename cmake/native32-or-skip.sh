#!/bin/bash
# Runs a command that starts 32-bit programs, where this machine runs them
# natively; where they are emulated (a minute or more to start each one) it
# prints why not and exits 77, which the tests that use it take as skipped.
# Usage: native32-or-skip.sh COMMAND [ARGS...]
set -u
if ! why=$("$(dirname "$0")/wine32-native.sh"); then
  echo "SKIPPED: $why"
  exit 77
fi
exec "$@"
