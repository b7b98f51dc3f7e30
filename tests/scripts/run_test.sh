#!/usr/bin/env bash
# Runs one script test through `plimo --run` and compares what it printed and its exit status with the
# expectations written in the test's comments:
#   // expect: TEXT           one line of standard output, in order
#   // expect stderr: TEXT    a line of standard error must contain TEXT
#   // exit: N                the exit status (0 when omitted)
#   // with: OTHER.plimo      another class file passed after the test's own (relative to the test)
# The source is Shift-JIS like every class source; it is read as UTF-8 here, as the output is written.
set -u
plimo=$1
test=$2
dir=$(dirname "$test")
source=$(iconv -f CP932 -t UTF-8 "$test") || { echo "cannot read $test"; exit 1; }

expected_out=$(printf '%s\n' "$source" | sed -n 's|^[[:space:]]*// expect:[[:space:]]\{0,1\}||p')
expected_err=$(printf '%s\n' "$source" | sed -n 's|^[[:space:]]*// expect stderr:[[:space:]]\{0,1\}||p')
expected_exit=$(printf '%s\n' "$source" | sed -n 's|^[[:space:]]*// exit:[[:space:]]*\([0-9]*\).*|\1|p' | tail -n 1)
expected_exit=${expected_exit:-0}
files=("$test")
while IFS= read -r f; do
    [ -n "$f" ] && files+=("$dir/$f")
done < <(printf '%s\n' "$source" | sed -n 's|^[[:space:]]*// with:[[:space:]]*\([^[:space:]]*\).*|\1|p')

out_file=$(mktemp)
err_file=$(mktemp)
trap 'rm -f "$out_file" "$err_file"' EXIT
timeout 60 "$plimo" --run "${files[@]}" >"$out_file" 2>"$err_file" </dev/null
status=$?

failed=0
if [ "$(cat "$out_file")" != "$expected_out" ]; then
    echo "standard output differs (expected, then actual):"
    diff <(printf '%s\n' "$expected_out") "$out_file"
    failed=1
fi
if [ "$status" != "$expected_exit" ]; then
    echo "exit status $status, expected $expected_exit"
    failed=1
fi
while IFS= read -r want; do
    [ -z "$want" ] && continue
    if ! grep -qF -- "$want" "$err_file"; then
        echo "standard error lacks: $want"
        failed=1
    fi
done <<<"$expected_err"
if [ $failed != 0 ]; then
    echo "--- standard error:"
    cat "$err_file"
fi
exit $failed
