#!/bin/bash
# Runs one Win32 console test program under a private Wine prefix and virtual display; passes when the program exits 0.
# usage: run_wine_test.sh PROGRAM.exe WINE64 [ARGS...]
set -u
PROGRAM=$1
shift
. "$(dirname "$0")/winenv.sh"
vs_wine_start "$1"
shift
vs_run "$PROGRAM" "$@" || vs_fail "$(basename "$PROGRAM") exited with $?"
echo "PASS"
