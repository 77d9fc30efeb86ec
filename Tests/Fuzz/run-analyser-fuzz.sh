#!/bin/sh
# The analyser's fuzz target; see run-one.sh (usage: run-analyser-fuzz.sh [seconds] [extra
# libFuzzer options...]).
exec "$(dirname "$0")/run-one.sh" analyser "$@"
