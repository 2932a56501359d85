#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest. Its standard output loses the carriage
# returns the C runtime adds in text mode, so test listings parse as they do on Linux.
set -o pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: the tests need neither, and asking for them needs a display.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
"${WINE64:-/usr/lib/wine/wine64}" "$@" | tr -d '\r'
