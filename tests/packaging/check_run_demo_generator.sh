#!/usr/bin/env bash
# scripts/run-demo on a build folder configured with another generator than
# its own (Unix Makefiles, as `cmake -B build` makes it): the folder is built
# as it is, never configured again with another generator. The build step
# itself is stood in for (the folder holds copies of the built programs):
# configuring is what is under test, and real cmake checks the generator.
set -euo pipefail
source_dir=${1:?source folder}
build=${2:?build folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
made="$work/build"
mkdir -p "$made/src" "$made/tools" "$work/bin"
printf 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles\nCMAKE_HOME_DIRECTORY:INTERNAL=%s\n' "$source_dir" >"$made/CMakeCache.txt"
cp "$build/src/qk4820" "$made/src/qk4820"
cp "$build/tools/qk4820-sim" "$made/tools/qk4820-sim"
real_cmake=$(command -v cmake)
cat >"$work/bin/cmake" <<SHIM
#!/usr/bin/env bash
if [ "\${1:-}" = "--build" ]; then echo "build \$*" >>"$work/builds"; exit 0; fi
exec "$real_cmake" "\$@"
SHIM
chmod +x "$work/bin/cmake"
out=$(PATH="$work/bin:$PATH" BUILD_DIR="$made" bash "$source_dir/scripts/run-demo" --diagnose --records 2 2>&1) \
  || { echo "$out"; echo "FAILED: run-demo on a Unix Makefiles build folder"; exit 1; }
echo "$out" | grep -qF "结果：COM3 可以打开" || { echo "$out"; echo "FAILED: the port did not open"; exit 1; }
grep -q -- "--build $made" "$work/builds" || { echo "FAILED: the folder was not built"; exit 1; }
echo "run-demo reused the folder's generator"
