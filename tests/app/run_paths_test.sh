#!/usr/bin/env bash
# `plimo --run` with class files in a folder whose name is not ASCII: the files are found (also spelt in
# another case) and a syntax error names the path as it was given, not garbled.
set -eu
plimo=$(realpath "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/日本"
printf 'extends Object;\r\nprint("found");\r\n' >"$tmp/日本/Foo.plimo"
printf 'extends Object;\r\nx = = 1;\r\n' >"$tmp/日本/Bad.plimo"

out=$(cd "$tmp" && "$plimo" --run 日本/foo.plimo)
[ "$out" = "found" ] || { echo "the class in 日本/ printed: $out"; exit 1; }

if (cd "$tmp" && "$plimo" --run 日本/Bad.plimo) 2>"$tmp/err" >/dev/null; then
    echo "a syntax error was accepted"; exit 1
fi
grep -qF "文法エラー:$tmp/日本/Bad.plimo" "$tmp/err" || { echo "the error names the path wrongly:"; cat "$tmp/err"; exit 1; }
echo ok
