#!/usr/bin/env bash
# Builds the Debian package from the build tree given, checks its files,
# validates its desktop entry and metainfo, and starts the program from the
# unpacked layout with a scratch home: the settings must live there.
set -euo pipefail
build=${1:?build folder}
if ! command -v cpack >/dev/null; then
  echo "cpack is not installed: the package is not checked"
  exit 77
fi
work=$(mktemp -d)
trap 'kill "${gui:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/pkg/qk4820_*_amd64.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no package made"
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for f in ./usr/bin/qk4820 ./usr/bin/qk4820-sim ./usr/bin/qk4820-decode ./usr/bin/qk4820-convert \
         ./usr/share/applications/cn.qk4820.qk4820.desktop \
         ./usr/share/icons/hicolor/scalable/apps/cn.qk4820.qk4820.svg \
         ./usr/share/metainfo/cn.qk4820.qk4820.metainfo.xml \
         ./usr/bin/qk4820-history ./usr/share/doc/qk4820/copyright \
         ./usr/share/doc/qk4820/60-qk4820-serial.rules.example; do
  grep -qxF "$f" "$work/files" || fail "the package lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6serialport6 libqt6widgets6 libzip4 libpq5 qt6-qpa-plugins libqt6sql6-sqlite; do
  case "$depends" in *"$d"*) ;; *) fail "the package does not depend on $d ($depends)";; esac
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
# The copyright file is machine-readable and names the licences.
head -1 "$root/usr/share/doc/qk4820/copyright" | grep -qF "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
  || fail "the copyright file is not machine-readable"
grep -q "^License: LicenseRef-proprietary" "$root/usr/share/doc/qk4820/copyright" || fail "the copyright file names no licence"
desktop-file-validate "$root/usr/share/applications/cn.qk4820.qk4820.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/cn.qk4820.qk4820.metainfo.xml" >/dev/null \
  || fail "appstreamcli validate"

# The installed program keeps its settings and records in the user's folders.
home="$work/home"
mkdir -p "$home"
out=$(env -u XDG_CONFIG_HOME -u XDG_DOCUMENTS_DIR HOME="$home" "$root/usr/bin/qk4820" --diagnose || true)
echo "$out" | grep -qF "设置文件：$home/.config/qk4820/SystemFile.ini" || { echo "$out"; fail "settings not in the home"; }
env HOME="$home" "$root/usr/bin/qk4820" --version | grep -q "^qk4820 " || fail "--version"

# The window starts from the installed layout (offscreen) and stays up.
env -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=offscreen "$root/usr/bin/qk4820" >"$work/gui.log" 2>&1 &
gui=$!
sleep 3
kill -0 "$gui" 2>/dev/null || { cat "$work/gui.log"; fail "the installed program did not stay up"; }
kill "$gui"
wait "$gui" 2>/dev/null || true
[ -d "$home/.config/qk4820" ] || fail "no settings folder in the home"
[ ! -e "$root/usr/bin/SystemFile.ini" ] || fail "settings written beside the installed program"
# scripts/run-demo against the installed program: its settings in the home.
demo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/run-demo
out=$(env -u XDG_CONFIG_HOME HOME="$home" XDG_RUNTIME_DIR="$work" PATH="$root/usr/bin:$PATH" \
      bash "$demo" --installed --diagnose --records 2 2>&1) || { echo "$out"; fail "run-demo --installed"; }
echo "$out" | grep -qF "结果：COM3 可以打开" || { echo "$out"; fail "run-demo --installed did not reach the simulator"; }
grep -q "qk4820-demo.tty" "$home/.config/qk4820/SystemFile.ini" || fail "run-demo did not map the port in the home's settings"
# Installed as a user would, without recommended packages: the history
# (Qt's SQLite driver) works from the dependencies alone.
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
  trap 'kill "${gui:-0}" 2>/dev/null || true; apt-get remove -y -qq qk4820 >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  mkdir -p "$home/lab" && : >"$home/lab/SystemFile.ini"
  out=$(env HOME="$home" /usr/bin/qk4820-history --settings "$home/lab/SystemFile.ini" check 2>&1) \
    || { echo "$out"; fail "the installed history tool cannot open a store"; }
  echo "$out" | grep -qF "完好，共 0 条结果" || { echo "$out"; fail "qk4820-history check"; }
  echo "installed with --no-install-recommends: the history opens"
else
  echo "not root: the package is not installed for the check"
fi
echo "package checked"
