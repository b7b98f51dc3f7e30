#!/usr/bin/env bash
# The music modes end to end: notation -> .svo -> WAV of the asked length, and clear errors on bad input.
set -eu
plimo=$1
dir=$(dirname "$0")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$plimo" --compile-music "$dir/tune.txt" --out "$tmp/tune.svo"
"$plimo" --render-music "$tmp/tune.svo" --seconds 2 --out "$tmp/tune.wav"
# 8-bit mono 44100 Hz: a 44-byte header and one byte per sample.
size=$(stat -c %s "$tmp/tune.wav")
[ "$size" -eq $((44 + 2 * 44100)) ] || { echo "WAV has $size bytes"; exit 1; }
[ "$(head -c 4 "$tmp/tune.wav")" = "RIFF" ] || { echo "not a RIFF file"; exit 1; }

printf '0: q\n' > "$tmp/bad.txt"
if "$plimo" --compile-music "$tmp/bad.txt" --out "$tmp/bad.svo" 2>"$tmp/err"; then
    echo "bad notation was accepted"; exit 1
fi
[ -s "$tmp/err" ] || { echo "no message for bad notation"; exit 1; }
if "$plimo" --render-music "$tmp/missing.svo" --seconds 1 --out "$tmp/x.wav" 2>/dev/null; then
    echo "a missing music file was accepted"; exit 1
fi
echo ok
