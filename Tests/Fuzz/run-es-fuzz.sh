#!/bin/sh
# The elementary-stream parsers' fuzz target; see run-one.sh (usage: run-es-fuzz.sh [seconds]
# [extra libFuzzer options...]).
exec "$(dirname "$0")/run-one.sh" es "$@"
