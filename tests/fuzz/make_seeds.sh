#!/usr/bin/env bash
# Makes the seeds of the fuzz targets (tests/fuzz/seeds/<target>) from files that real producers
# wrote: the spreadsheet fixtures (LibreOffice, Gnumeric, openpyxl, SheetJS),
# LibreOffice's and SheetJS's XML 2003 and CSV exports of the same records,
# and the program's own text and CSV files (written by qk4820-convert from a
# LibreOffice workbook). The files are committed; the fuzz build needs none
# of these programs. The inputs scripts/fuzz finds go to tests/fuzz/corpus.
# Run again after changing a source:
#   tests/fuzz/make_seeds.sh [BUILD_DIR]
# Needs: a build of qk4820-convert, libreoffice-calc (soffice), iconv,
# python3, node and npm (SheetJS "xlsx" 0.18.5 is fetched into a scratch folder).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
convert="$build/tools/qk4820-convert"
fixtures="$root/tests/spreadsheet/fixtures"
seeds="$here/seeds"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$seeds"/{xls,xlsx,ods,xmlss,text,csv,ini,values,assembler}

# Workbooks as their producers wrote them (the zip bomb stays with the
# reader tests: a 1 MB seed would slow every run).
cp "$fixtures"/{gnumeric,libreoffice,sheetjs}.xls "$root/tests/forms/fixtures/archive97.xls" "$seeds/xls/"
cp "$fixtures"/{gnumeric,libreoffice,openpyxl,openpyxl-far-cell,sheetjs}.xlsx "$seeds/xlsx/"
cp "$fixtures"/{gnumeric,libreoffice}.ods "$seeds/ods/"

# XML 2003 and CSV from LibreOffice, of the records of the reader fixtures
# (the GBK copy leaves out the one character GBK lacks, a yen sign).
cp "$fixtures/source.fods" "$work/records.fods"
soffice --headless --calc --convert-to 'xml:MS Excel 2003 XML' --outdir "$work/xml" "$work/records.fods" >/dev/null
cp "$work/xml/records.xml" "$seeds/xmlss/libreoffice.xml"
soffice --headless --calc --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir "$work/csv" "$work/records.fods" >/dev/null
cp "$work/csv/records.csv" "$seeds/csv/libreoffice-utf8.csv"
soffice --headless --calc --convert-to 'csv:Text - txt - csv (StarCalc):59,34,76' --outdir "$work/csv-semicolon" "$work/records.fods" >/dev/null
cp "$work/csv-semicolon/records.csv" "$seeds/csv/libreoffice-semicolon.csv"
iconv -c -f UTF-8 -t GBK "$work/csv/records.csv" > "$seeds/csv/libreoffice-gbk.csv"

# XML 2003 from SheetJS.
(cd "$work" && npm install --silent --no-audit --no-fund xlsx@0.18.5 >/dev/null)
NODE_PATH="$work/node_modules" node -e '
  const XLSX = require("xlsx");
  const wb = XLSX.readFile(process.argv[1]);
  XLSX.writeFile(wb, process.argv[2], {bookType: "xlml"});
' "$fixtures/libreoffice.xlsx" "$seeds/xmlss/sheetjs.xml"

# The program's own text and CSV files of the same records.
"$convert" "$fixtures/libreoffice.xlsx" "$seeds/text/program.txt"
"$convert" "$fixtures/libreoffice.xlsx" "$seeds/csv/program.csv"
# A text file of the earlier format: one resistance under "测试电阻".
printf '序号= 1\r\n[参数]\r\n时间=08-03-05 09:07\r\n设备编号=QK-1\r\n测试人员=张三\r\n测试地点=变电站\r\n测试档位=100A\r\n载流时间=30 秒\r\n[试验结果]\r\n测试电阻=35.2 μΩ\r\n\r\n' |
  iconv -f UTF-8 -t GBK > "$seeds/text/earlier-version.txt"

# The settings file as the program writes it, with the sections others add.
printf '[SetParam]\r\nstrCurrentStep=100A\r\nstrPhase=三相\r\niTestTime=30\r\n[RestParam]\r\nstrTestUser=张三\r\nstrTestAdd=东郊变电站\r\nstrDevice=QK355\r\n[Communication]\r\ngiCommStyle=1\r\ngiCommPort=3\r\ngiBaudRate=6\r\n[Screen]\r\nsave=1\r\nleft=10\r\ntop=20\r\nwidth=800\r\nheight=600\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n; a comment\r\n[Database]\r\nDriver=QPSQL\r\nHost=db.example.org\r\nPort=5432\r\n' |
  iconv -f UTF-8 -t GBK > "$seeds/ini/SystemFile.ini"

# Value and time texts as tables and files show them.
n=0
for v in '35.2 μΩ' '1.25 mΩ' '2.500 Ω' '0.0 μΩ' '61.6 µΩ' '12 uohm' '-.5mΩ' '24-05-02 09:07' '08-03-05 09:07' '99-12-31 23:59'; do
  printf '%s' "$v" > "$seeds/values/seed-$((n += 1))"
done

# Replies of the instrument: kind byte, chunk size, then the bytes.
python3 - "$seeds/assembler" <<'EOF'
import struct, sys, os
out = sys.argv[1]
def f(v): return struct.pack('>f', v)
record = bytes([0xF1, 0x25, 0x09, 0x77, 0x31, 0x12, 0x08, 1, 37, 10, 62, 255, 0, 0, 0,
                10, 11, 12, 13, 36, 61, 9, 35] + [62] * 8 + [120, 1, 3]) + f(3.52e-5) + f(3.6e-5) + f(3.7e-5)
def live(state, secs): return bytes([0xFA]) + f(100) + f(100.5) + f(99.8) + f(0.0035) + f(0.0036) + f(0.0037) + f(3.5e-5) + f(3.6e-5) + f(3.7e-5) + bytes([0, secs, state])
seeds = {
  'identify': bytes([1, 2, 0xF8, 0x01]),
  'count': bytes([2, 1, 0xF0, 0xFF]),
  'record': bytes([3, 7]) + record,
  'live': bytes([5, 13]) + live(0x88, 1) + live(0x88, 2) + live(0x83, 3),
  'live-noise': bytes([5, 40]) + b'\x00\xFA\x12' + live(0x88, 1) + b'\xFA' * 5 + live(0x81, 2),
  'range': bytes([6, 3, 0xF3, 1, 1]),
  'stop': bytes([7, 11]) + live(0x88, 4) + bytes([0xFC]),
  'print': bytes([8, 1, 0xFE]),
}
for name, data in seeds.items():
    open(os.path.join(out, name), 'wb').write(data)
EOF
ls -R "$seeds" | head -60
