#!/usr/bin/env bash
# scripts/run-demo from a folder whose name is not ASCII (and has a blank):
# the simulator's terminal lies under it, the program reaches it.
set -euo pipefail
source_dir=${1:?source folder}
build=${2:?build folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir="$work/演示 目录"
mkdir -p "$dir"
ln -s "$build" "$dir/build"
cd "$dir"
out=$(BUILD_DIR=build bash "$source_dir/scripts/run-demo" --diagnose --records 2 2>&1) || { echo "$out"; echo "FAILED: run-demo"; exit 1; }
echo "$out" | grep -qF "COM3 → $dir/build/qk4820-demo.tty" || { echo "$out"; echo "FAILED: the terminal is not under the folder"; exit 1; }
echo "$out" | grep -qF "结果：COM3 可以打开" || { echo "$out"; echo "FAILED: the port did not open"; exit 1; }
echo "run-demo checked in $dir"
