#!/usr/bin/env bash
# Runs the recording CPU benchmark in a headless test desktop whose microphone plays speech
# in real time, as a person talking would.
#   bench/audio_capture_cpu.sh BENCH_BINARY [SECONDS]
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 BENCH_BINARY [SECONDS]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
# The inner script expands its variables inside the test desktop, not here.
# shellcheck disable=SC2016
exec "$here/../scripts/test-desktop.sh" run --mic-fifo -- bash -c '
    speech=$QUILL_TEST_DESKTOP_ROOT/speech.raw
    espeak-ng --stdout "Recording costs almost nothing while the user speaks into the microphone." \
        | sox - -r 16000 -c 1 -b 16 -e signed -t raw "$speech"
    chunks=$(( $(stat -c %s "$speech") / 3200 ))
    # 100 ms of speech every 100 ms, round and round.
    ( while :; do
        for ((i = 0; i < chunks; i++)); do
            dd if="$speech" bs=3200 skip=$i count=1 status=none
            sleep 0.1
        done
      done >"$QUILL_TEST_MIC_FIFO" ) &
    feeder=$!
    "$0" "$@"
    status=$?
    kill $feeder
    exit $status
' "$@"
