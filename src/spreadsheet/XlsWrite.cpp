#include "spreadsheet/XlsWrite.h"

#include <QHash>
#include <QString>

#include <algorithm>
#include <cstring>
#include <vector>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

namespace {

constexpr int kXlsRows = 65536;
constexpr int kXlsColumns = 256;
constexpr int kRecordData = 8224;  // largest record body of BIFF8
constexpr int kStyleXfs = 15;      // XF 0..14 are styles, 15 the default cell format
constexpr int kCellXf = 16;        // the one format of the stored cells
constexpr int kCellChars = 32767;  // longest text of a cell

void Put16(QByteArray& b, quint32 v) {
  b.append(char(v & 0xFF));
  b.append(char((v >> 8) & 0xFF));
}
void Put32(QByteArray& b, quint32 v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutDouble(QByteArray& b, double v) {
  quint64 u = 0;
  std::memcpy(&u, &v, sizeof u);
  Put32(b, quint32(u & 0xFFFFFFFFu));
  Put32(b, quint32(u >> 32));
}
void Set32(QByteArray& b, int at, quint32 v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

void Record(QByteArray& out, quint16 type, const QByteArray& body) {
  Put16(out, type);
  Put16(out, quint32(body.size()));
  out += body;
}

// A string of 8-bit length as FONT and BOUNDSHEET8 hold it, in UTF-16.
QByteArray ShortString(const QString& s) {
  QByteArray b;
  b.append(char(std::min<qsizetype>(s.size(), 255)));
  b.append(char(1));
  for (qsizetype i = 0; i < s.size() && i < 255; ++i) Put16(b, s[i].unicode());
  return b;
}

QByteArray Bof(quint16 kind) {
  QByteArray b;
  Put16(b, 0x0600);  // BIFF8
  Put16(b, kind);    // 0x0005 workbook globals, 0x0010 worksheet
  Put16(b, 0x0DBB);  // build
  Put16(b, 0x07CC);  // year
  Put32(b, 0);
  Put32(b, 0x06);
  return b;
}

QByteArray Xf(quint16 font, quint16 format, bool style, quint8 align) {
  QByteArray b;
  Put16(b, font);
  Put16(b, format);
  Put16(b, style ? 0xFFF5 : 0x0001);  // locked; a style has no parent, a cell format has style 0
  b.append(char(align | 0x20));        // horizontal alignment, bottom vertically
  b.append(char(0));
  b.append(char(0));
  b.append(char(style ? 0xF4 : 0x14));  // a cell format sets its number format and alignment
  Put32(b, 0x20400000);
  Put32(b, 0x00002040);
  Put16(b, 0x20C0);
  return b;
}

// The shared strings: every text of the workbook once, split over CONTINUE
// records; a string that does not fit goes on in the next record after a
// repeated option byte.
QByteArray SharedStrings(const std::vector<QString>& strings, quint32 total) {
  QByteArray out;
  QByteArray cur;
  bool first = true;
  auto flush = [&] {
    Record(out, first ? 0x00FC : 0x003C, cur);
    first = false;
    cur.clear();
  };
  Put32(cur, total);
  Put32(cur, quint32(strings.size()));
  for (const QString& s : strings) {
    if (cur.size() + 5 > kRecordData) flush();
    Put16(cur, quint32(s.size()));
    cur.append(char(1));  // UTF-16
    qsizetype done = 0;
    while (done < s.size()) {
      qsizetype room = (kRecordData - cur.size()) / 2;
      if (room <= 0) {
        flush();
        cur.append(char(1));
        room = (kRecordData - 1) / 2;
      }
      const qsizetype n = std::min(room, s.size() - done);
      for (qsizetype i = 0; i < n; ++i) Put16(cur, s[done + i].unicode());
      done += n;
    }
  }
  flush();
  return out;
}

quint8 AlignOf(std::int32_t code) {
  switch (code) {
    case kAlignLeft: return 1;
    case kAlignCenter: return 2;
    case kAlignRight: return 3;
    case kAlignFill: return 4;
    case kAlignJustify: return 5;
    case kAlignCenterAcross: return 6;
    default: return 0;
  }
}

QByteArray Worksheet(const TSheet& sheet, std::vector<QString>& strings, QHash<QString, quint32>& index,
                     quint32& total) {
  const auto used = sheet.UsedRows();
  const int lastCol = sheet.LastUsedColumn();
  if (used.second >= kXlsRows || lastCol >= kXlsColumns) {
    throw ESpreadsheetError(
        QStringLiteral("Excel 97-2003 工作簿最多容纳 65536 行、256 列，这份数据更多，请保存为 .xlsx 文件"));
  }
  QByteArray out;
  Record(out, 0x0809, Bof(0x0010));
  QByteArray dim;
  Put32(dim, used.first < 0 ? 0 : quint32(used.first));
  Put32(dim, used.first < 0 ? 0 : quint32(used.second + 1));
  Put16(dim, 0);
  Put16(dim, quint32(lastCol + 1));
  Put16(dim, 0);
  Record(out, 0x0200, dim);
  QByteArray win;
  Put16(win, 0x06B6);
  Put16(win, 0);
  Put16(win, 0);
  Put32(win, 0x40);
  Put16(win, 0);
  Put16(win, 0);
  Put32(win, 0);
  Record(out, 0x023E, win);
  // Widths of all 256 columns, in 1/256 of a character, with the cell format
  // so that empty cells are formatted as well.
  for (int c = 0; c < kXlsColumns;) {
    const double w = sheet.ColumnWidth(c);
    int e = c;
    while (e + 1 < kXlsColumns && sheet.ColumnWidth(e + 1) == w) ++e;
    QByteArray ci;
    Put16(ci, quint32(c));
    Put16(ci, quint32(e));
    Put16(ci, quint32(std::clamp(w * 256.0, 0.0, 65535.0)));
    Put16(ci, kCellXf);
    Put16(ci, 0x0002);  // custom width
    Put16(ci, 0);
    Record(out, 0x007D, ci);
    c = e + 1;
  }
  for (size_t r = 0; r < sheet.rows.size(); ++r) {
    const auto& row = sheet.rows[r];
    for (const TRowCell& stored : row) {
      const TSheetCell cell{stored.kind, stored.index};
      const int c = stored.col;
      QByteArray b;
      Put16(b, quint32(r));
      Put16(b, quint32(c));
      Put16(b, kCellXf);
      switch (cell.kind) {
        case TSheetCell::Kind::Empty:
          continue;
        case TSheetCell::Kind::Text: {
          const QString& text = sheet.Text(cell);
          if (text.size() > kCellChars) {
            throw ESpreadsheetError(QStringLiteral("第%1行第%2列的文字超过 32767 个字符，无法保存").arg(r + 1).arg(c + 1));
          }
          auto it = index.find(text);
          if (it == index.end()) {
            it = index.insert(text, quint32(strings.size()));
            strings.push_back(text);
          }
          ++total;
          Put32(b, *it);
          Record(out, 0x00FD, b);
          break;
        }
        case TSheetCell::Kind::Number:
          PutDouble(b, sheet.Number(cell));
          Record(out, 0x0203, b);
          break;
        case TSheetCell::Kind::Boolean:
          b.append(char(cell.index != 0 ? 1 : 0));
          b.append(char(0));
          Record(out, 0x0205, b);
          break;
      }
    }
  }
  Record(out, 0x000A, {});
  return out;
}

// Wraps the workbook stream into a compound file of 512-byte sectors. The
// stream is made at least 4096 bytes long, so it lives in ordinary sectors
// and no mini stream is needed.
QByteArray CompoundFile(QByteArray stream) {
  constexpr quint32 kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD, kDifSect = 0xFFFFFFFC;
  if (stream.size() < 4096) stream.append(QByteArray(4096 - stream.size(), '\0'));
  if (stream.size() % 512) stream.append(QByteArray(512 - stream.size() % 512, '\0'));
  const quint32 streamSectors = quint32(stream.size() / 512);
  // Sectors: stream, one directory sector, FAT sectors, DIFAT sectors.
  quint32 fat = 1, difat = 0;
  for (;;) {
    const quint32 total = streamSectors + 1 + fat + difat;
    const quint32 needFat = (total + 127) / 128;
    const quint32 needDifat = needFat > 109 ? (needFat - 109 + 126) / 127 : 0;
    if (needFat == fat && needDifat == difat) break;
    fat = needFat;
    difat = needDifat;
  }
  const quint32 dirSector = streamSectors;
  const quint32 firstFat = dirSector + 1;
  const quint32 firstDifat = firstFat + fat;
  std::vector<quint32> table(size_t(fat) * 128, kFree);
  for (quint32 i = 0; i < streamSectors; ++i) table[i] = i + 1 < streamSectors ? i + 1 : kEnd;
  table[dirSector] = kEnd;
  for (quint32 i = 0; i < fat; ++i) table[firstFat + i] = kFatSect;
  for (quint32 i = 0; i < difat; ++i) table[firstDifat + i] = kDifSect;

  QByteArray header;
  header.append("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  header.append(QByteArray(16, '\0'));
  Put16(header, 0x003E);
  Put16(header, 0x0003);
  Put16(header, 0xFFFE);
  Put16(header, 9);
  Put16(header, 6);
  header.append(QByteArray(6, '\0'));
  Put32(header, 0);  // directory sectors (0 in version 3)
  Put32(header, fat);
  Put32(header, dirSector);
  Put32(header, 0);
  Put32(header, 4096);
  Put32(header, kEnd);  // no mini FAT
  Put32(header, 0);
  Put32(header, difat ? firstDifat : kEnd);
  Put32(header, difat);
  for (quint32 i = 0; i < 109; ++i) Put32(header, i < fat ? firstFat + i : kFree);
  header.append(QByteArray(512 - header.size(), '\0'));

  auto entry = [](const QString& name, quint8 type, quint32 child, quint32 start, quint32 size) {
    QByteArray e;
    for (const QChar c : name) Put16(e, c.unicode());
    e.append(QByteArray(64 - e.size(), '\0'));
    Put16(e, name.isEmpty() ? 0 : quint32((name.size() + 1) * 2));
    e.append(char(type));
    e.append(char(1));  // black
    Put32(e, 0xFFFFFFFF);
    Put32(e, 0xFFFFFFFF);
    Put32(e, child);
    e.append(QByteArray(16 + 4 + 16, '\0'));  // class id, state, times
    Put32(e, start);
    Put32(e, size);
    Put32(e, 0);
    return e;
  };
  QByteArray dir;
  dir += entry(QStringLiteral("Root Entry"), 5, 1, kEnd, 0);
  dir += entry(QStringLiteral("Workbook"), 2, 0xFFFFFFFF, 0, quint32(stream.size()));
  dir += entry(QString(), 0, 0xFFFFFFFF, 0, 0);
  dir += entry(QString(), 0, 0xFFFFFFFF, 0, 0);

  QByteArray out = header + stream + dir;
  for (quint32 v : table) Put32(out, v);
  for (quint32 d = 0; d < difat; ++d) {
    QByteArray s;
    for (quint32 i = 0; i < 127; ++i) {
      const quint32 n = 109 + d * 127 + i;
      Put32(s, n < fat ? firstFat + n : kFree);
    }
    Put32(s, d + 1 < difat ? firstDifat + d + 1 : kEnd);
    out += s;
  }
  return out;
}

}  // namespace

QByteArray XlsFileBytes(const TWorkbook& book) {
  std::vector<TSheet> sheets = book.sheets;
  if (sheets.empty()) sheets.emplace_back();
  // The cell format: the first sheet's number format and alignment.
  const TSheet& first = sheets.front();
  const quint16 format = first.numberFormat == QStringLiteral("@") ? 49 : 0;
  const quint8 align = AlignOf(first.align);

  std::vector<QString> strings;
  QHash<QString, quint32> index;
  quint32 total = 0;
  std::vector<QByteArray> bodies;
  for (const TSheet& s : sheets) bodies.push_back(Worksheet(s, strings, index, total));

  QByteArray globals;
  Record(globals, 0x0809, Bof(0x0005));
  QByteArray cp;
  Put16(cp, 1200);  // UTF-16
  Record(globals, 0x0042, cp);
  QByteArray w1;
  for (quint32 v : {0u, 0u, 0x4000u, 0x2000u, 0x0038u, 0u, 0u, 1u, 600u}) Put16(w1, v);
  Record(globals, 0x003D, w1);
  for (int i = 0; i < 5; ++i) {
    QByteArray f;
    Put16(f, 220);     // 11 points
    Put16(f, 0);
    Put16(f, 0x7FFF);  // automatic colour
    Put16(f, 400);     // normal weight
    Put16(f, 0);
    f.append(char(0));
    f.append(char(0));
    f.append(char(0x86));  // GB2312
    f.append(char(0));
    f += ShortString(QStringLiteral("宋体"));
    Record(globals, 0x0031, f);
  }
  for (int i = 0; i < kStyleXfs; ++i) Record(globals, 0x00E0, Xf(0, 0, true, 0));
  Record(globals, 0x00E0, Xf(0, 0, false, 0));           // 15: default cell format
  Record(globals, 0x00E0, Xf(0, format, false, align));  // 16: the stored cells
  QByteArray style;
  Put16(style, 0x8000);
  style.append(char(0));
  style.append(char(char(0xFF)));
  Record(globals, 0x0293, style);
  std::vector<int> offsetAt;
  for (size_t i = 0; i < sheets.size(); ++i) {
    QByteArray bs;
    offsetAt.push_back(int(globals.size()) + 4);
    Put32(bs, 0);  // patched below
    Put16(bs, 0);
    bs += ShortString(sheets[i].name.isEmpty() ? QStringLiteral("Sheet%1").arg(i + 1) : sheets[i].name.left(31));
    Record(globals, 0x0085, bs);
  }
  globals += SharedStrings(strings, total);
  Record(globals, 0x000A, {});

  quint32 at = quint32(globals.size());
  for (size_t i = 0; i < bodies.size(); ++i) {
    Set32(globals, offsetAt[i], at);
    at += quint32(bodies[i].size());
  }
  QByteArray stream = globals;
  for (const QByteArray& b : bodies) stream += b;
  return CompoundFile(stream);
}
