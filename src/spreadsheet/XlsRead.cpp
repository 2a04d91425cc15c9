// Excel 97-2003 workbooks, read after [MS-CFB] (the compound file holding the
// "Workbook" stream) and [MS-XLS] (the BIFF8 records in it): BOUNDSHEET8,
// WINDOW1 for the active sheet, DATEMODE, FORMAT and XF for dates and times,
// SST with its CONTINUE records, and the cell records LABELSST, LABEL,
// RSTRING, NUMBER, RK, MULRK, BOOLERR and FORMULA with its STRING, whose
// cached result is what the cell shows.
#include <QHash>
#include <QtEndian>

#include <cstring>
#include <vector>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"

namespace {

QString Broken(const QString& what) { return QStringLiteral("Excel 97-2003 工作簿已损坏（%1）").arg(what); }

quint16 U16(const char* p) { return qFromLittleEndian<quint16>(p); }
quint32 U32(const char* p) { return qFromLittleEndian<quint32>(p); }

// ---- compound file ----------------------------------------------------------

class TCompoundFile {
 public:
  explicit TCompoundFile(const QByteArray& bytes) : FBytes(bytes) {
    if (bytes.size() < 512) throw ESpreadsheetError(Broken(QStringLiteral("文件头不完整")));
    const char* h = bytes.constData();
    // Version 3 files have 512-byte sectors, version 4 files 4096-byte ones;
    // mini sectors are 64 bytes in both.
    const int shift = U16(h + 0x1E);
    if (shift != 9 && shift != 12) throw ESpreadsheetError(Broken(QStringLiteral("扇区大小")));
    FSector = 1 << shift;
    if (U16(h + 0x20) != 6) throw ESpreadsheetError(Broken(QStringLiteral("小扇区大小")));
    FCutoff = U32(h + 0x38);
    // The FAT sectors: 109 in the header, the rest in the DIFAT chain. There
    // cannot be more of them than the file has sectors.
    const quint32 fatCount = U32(h + 0x2C);
    if (fatCount > SectorCount()) throw ESpreadsheetError(Broken(QStringLiteral("FAT 比文件还大")));
    std::vector<quint32> fatSectors;
    for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i) fatSectors.push_back(U32(h + 0x4C + 4 * i));
    quint32 difat = U32(h + 0x44);
    std::vector<bool> seen(SectorCount());
    while (fatSectors.size() < fatCount && difat < kEnd) {
      if (difat >= seen.size() || seen[difat]) throw ESpreadsheetError(Broken(QStringLiteral("DIFAT 扇区链")));
      seen[difat] = true;
      const char* s = Sector(difat);
      const int per = FSector / 4 - 1;
      for (int i = 0; i < per && fatSectors.size() < fatCount; ++i) fatSectors.push_back(U32(s + 4 * i));
      difat = U32(s + 4 * per);
    }
    FFat.reserve(fatSectors.size() * size_t(FSector / 4));
    for (const quint32 fs : fatSectors) {
      const char* s = Sector(fs);
      for (int i = 0; i < FSector / 4; ++i) FFat.push_back(U32(s + 4 * i));
    }
    // The directory.
    const QByteArray dir = Chain(FFat, U32(h + 0x30), -1, false);
    for (int off = 0; off + 128 <= dir.size(); off += 128) {
      const char* e = dir.constData() + off;
      TEntry entry;
      const int nameBytes = std::min<int>(U16(e + 0x40), 64);
      entry.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(e), std::max(0, nameBytes / 2 - 1));
      entry.type = quint8(e[0x42]);
      entry.start = U32(e + 0x74);
      entry.size = U32(e + 0x78);
      FEntries.push_back(entry);
    }
    if (FEntries.empty() || FEntries[0].type != 5) throw ESpreadsheetError(Broken(QStringLiteral("目录")));
    const quint32 miniFatStart = U32(h + 0x3C);
    if (miniFatStart < kEnd) {
      const QByteArray miniFat = Chain(FFat, miniFatStart, -1, false);
      for (int i = 0; i + 4 <= miniFat.size(); i += 4) FMiniFat.push_back(U32(miniFat.constData() + i));
      FMiniStream = Chain(FFat, FEntries[0].start, qint64(FEntries[0].size), false);
    }
  }

  // The stream of that name in the root storage; null when there is none.
  QByteArray Stream(const QString& name, bool* found) const {
    for (const TEntry& e : FEntries) {
      if (e.type == 2 && e.name.compare(name, Qt::CaseInsensitive) == 0) {
        *found = true;
        if (e.size < FCutoff) return Chain(FMiniFat, e.start, e.size, true);
        return Chain(FFat, e.start, e.size, false);
      }
    }
    *found = false;
    return {};
  }

 private:
  static constexpr quint32 kEnd = 0xFFFFFFFA;  // the special sector numbers begin here
  static constexpr int kMiniSector = 64;

  struct TEntry {
    QString name;
    quint8 type = 0;
    quint32 start = 0;
    quint32 size = 0;
  };

  // Sectors after the header, the last one possibly cut short.
  quint32 SectorCount() const { return quint32((FBytes.size() - 1) / FSector); }

  const char* Sector(quint32 n) const {
    const qint64 off = (qint64(n) + 1) * FSector;
    if (n >= kEnd || off + FSector > FBytes.size()) {
      // A last sector cut short by its producer reads as padded with zeros.
      if (n < kEnd && off < FBytes.size()) {
        FPadded = FBytes.mid(off);
        FPadded.append(QByteArray(int(off + FSector - FBytes.size()), '\0'));
        return FPadded.constData();
      }
      throw ESpreadsheetError(Broken(QStringLiteral("扇区%1不在文件中").arg(n)));
    }
    return FBytes.constData() + off;
  }

  // Follows a chain of the FAT (or of the mini FAT in the mini stream) and
  // returns size bytes of it (the whole chain when size < 0). A chain that
  // comes back to a sector it passed, or a stream longer than the file that
  // holds it, is an error, never data.
  QByteArray Chain(const std::vector<quint32>& fat, quint32 start, qint64 size, bool mini) const {
    const int unit = mini ? kMiniSector : FSector;
    const qint64 room = mini ? qint64(FMiniStream.size()) : qint64(SectorCount()) * FSector;
    if (size > room) throw ESpreadsheetError(Broken(QStringLiteral("数据流比文件还长")));
    QByteArray out;
    if (size > 0) out.reserve(int(size));
    std::vector<bool> seen(fat.size());
    quint32 n = start;
    while (n < kEnd && (size < 0 || out.size() < size)) {
      if (n >= fat.size()) throw ESpreadsheetError(Broken(QStringLiteral("扇区链")));
      if (seen[n]) throw ESpreadsheetError(Broken(QStringLiteral("扇区链有循环")));
      seen[n] = true;
      if (mini) {
        const qint64 off = qint64(n) * unit;
        if (off + unit > FMiniStream.size()) throw ESpreadsheetError(Broken(QStringLiteral("小扇区")));
        out.append(FMiniStream.constData() + off, unit);
      } else {
        out.append(Sector(n), unit);
      }
      n = fat[n];
    }
    if (size >= 0) {
      if (out.size() < size) throw ESpreadsheetError(Broken(QStringLiteral("数据流不完整")));
      out.truncate(int(size));
    }
    return out;
  }

  const QByteArray& FBytes;
  int FSector = 512;
  quint32 FCutoff = 4096;
  std::vector<quint32> FFat;
  std::vector<quint32> FMiniFat;
  QByteArray FMiniStream;
  std::vector<TEntry> FEntries;
  mutable QByteArray FPadded;
};

// ---- records ----------------------------------------------------------------

struct TRecord {
  quint16 type = 0;
  const char* data = nullptr;
  int size = 0;
};

class TRecords {
 public:
  explicit TRecords(const QByteArray& stream) : FStream(stream) {}
  void Seek(qint64 pos) { FPos = pos; }
  bool Next(TRecord& r) {
    if (FPos + 4 > FStream.size()) return false;
    const char* p = FStream.constData() + FPos;
    r.type = U16(p);
    r.size = U16(p + 2);
    if (FPos + 4 + r.size > FStream.size()) throw ESpreadsheetError(Broken(QStringLiteral("记录不完整")));
    r.data = p + 4;
    FPos += 4 + r.size;
    return true;
  }
  // The data of the CONTINUE records that follow, each as one piece.
  void Continues(std::vector<QByteArray>& pieces) {
    TRecord r;
    for (;;) {
      const qint64 at = FPos;
      if (!Next(r)) return;
      if (r.type != 0x003C) {
        FPos = at;
        return;
      }
      pieces.emplace_back(r.data, r.size);
    }
  }

 private:
  const QByteArray& FStream;
  qint64 FPos = 0;
};

// Reads across the pieces of a record and its CONTINUE records; characters
// that go on in the next piece start there with a new option byte.
class TPieces {
 public:
  explicit TPieces(std::vector<QByteArray> pieces) : FPieces(std::move(pieces)) {}

  bool AtEnd() {
    while (FPiece < FPieces.size() && FPos >= FPieces[FPiece].size()) {
      ++FPiece;
      FPos = 0;
    }
    return FPiece >= FPieces.size();
  }
  quint8 Byte() {
    if (AtEnd()) throw ESpreadsheetError(Broken(QStringLiteral("字符串不完整")));
    return quint8(FPieces[FPiece][FPos++]);
  }
  quint16 U16v() {
    const quint16 lo = Byte();
    return quint16(lo | (Byte() << 8));
  }
  quint32 U32v() {
    const quint32 lo = U16v();
    return lo | (quint32(U16v()) << 16);
  }
  void Skip(qint64 n) {
    while (n > 0) {
      if (AtEnd()) throw ESpreadsheetError(Broken(QStringLiteral("字符串不完整")));
      const qint64 take = std::min<qint64>(n, FPieces[FPiece].size() - FPos);
      FPos += int(take);
      n -= take;
    }
  }
  // An XLUnicodeRichExtendedString whose character count was read: the
  // option byte, the run and extension counts, the characters, then the
  // runs and the extension, skipped.
  QString String(int chars) {
    const quint8 flags = Byte();
    bool high = flags & 0x01;
    const int runs = (flags & 0x08) ? U16v() : 0;
    const qint64 ext = (flags & 0x04) ? qint64(U32v()) : 0;
    QString s;
    s.reserve(chars);
    while (s.size() < chars) {
      if (FPos >= FPieces[FPiece].size()) {
        // The characters go on in the next CONTINUE, with an option byte of their own.
        if (AtEnd()) throw ESpreadsheetError(Broken(QStringLiteral("字符串不完整")));
        high = FPieces[FPiece][FPos++] & 0x01;
        continue;
      }
      if (high) {
        s += QChar(char16_t(U16v()));
      } else {
        s += QChar(char16_t(Byte()));
      }
    }
    Skip(qint64(runs) * 4 + ext);
    return s;
  }

 private:
  std::vector<QByteArray> FPieces;
  size_t FPiece = 0;
  int FPos = 0;
};

QString UnicodeString(const char* p, int size, int countBytes) {
  if (size < countBytes + 1) throw ESpreadsheetError(Broken(QStringLiteral("文字")));
  const int chars = countBytes == 2 ? U16(p) : quint8(p[0]);
  std::vector<QByteArray> one{QByteArray(p + countBytes, size - countBytes)};
  TPieces pieces(std::move(one));
  return pieces.String(chars);
}

double RkValue(quint32 rk) {
  double v = 0;
  if (rk & 0x02) {
    v = double(qint32(rk) >> 2);
  } else {
    const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, 8);
  }
  return (rk & 0x01) ? v / 100 : v;
}

QString ErrorText(quint8 code) {
  switch (code) {
    case 0x00: return QStringLiteral("#NULL!");
    case 0x07: return QStringLiteral("#DIV/0!");
    case 0x0F: return QStringLiteral("#VALUE!");
    case 0x17: return QStringLiteral("#REF!");
    case 0x1D: return QStringLiteral("#NAME?");
    case 0x24: return QStringLiteral("#NUM!");
    case 0x2A: return QStringLiteral("#N/A");
    default: return QStringLiteral("#N/A");
  }
}

struct TGlobals {
  struct TSheetRef {
    QString name;
    quint32 offset = 0;
    quint8 kind = 0;
  };
  std::vector<TSheetRef> sheets;
  int activeTab = 0;
  bool date1904 = false;
  QHash<int, TCellFormat> formats;
  std::vector<TCellFormat> xfs;
  std::vector<QString> sst;
};

// The workbook globals; the shared strings are counted in budget (they
// become the sheet's texts).
TGlobals ReadGlobals(TRecords& records, TSheetBudget& budget) {
  TGlobals g;
  TRecord r;
  if (!records.Next(r) || r.type != 0x0809 || r.size < 4) throw ESpreadsheetError(Broken(QStringLiteral("文件开头")));
  if (U16(r.data) != 0x0600) {
    throw ESpreadsheetError(QStringLiteral("不支持 Excel 95 及更早的工作簿，请在表格程序中另存为 Excel 97-2003 或 .xlsx"));
  }
  while (records.Next(r) && r.type != 0x000A) {
    switch (r.type) {
      case 0x002F:
        throw ESpreadsheetError(QStringLiteral("工作簿已加密，请先在表格程序中取消密码"));
      case 0x0085:  // BOUNDSHEET8
        if (r.size >= 8) {
          g.sheets.push_back({UnicodeString(r.data + 6, r.size - 6, 1), U32(r.data), quint8(r.data[5])});
        }
        break;
      case 0x003D:  // WINDOW1
        if (r.size >= 12) g.activeTab = U16(r.data + 10);
        break;
      case 0x0022:  // DATEMODE
        if (r.size >= 2) g.date1904 = U16(r.data) == 1;
        break;
      case 0x041E:  // FORMAT
        if (r.size >= 5) g.formats.insert(U16(r.data), FormatOfCode(UnicodeString(r.data + 2, r.size - 2, 2)));
        break;
      case 0x00E0: {  // XF
        if (r.size >= 4) {
          const int id = U16(r.data + 2);
          const auto it = g.formats.constFind(id);
          g.xfs.push_back(it != g.formats.cend() ? *it : BuiltInFormat(id));
        }
        break;
      }
      case 0x00FC: {  // SST
        std::vector<QByteArray> pieces{QByteArray(r.data, r.size)};
        records.Continues(pieces);
        TPieces p(std::move(pieces));
        p.U32v();
        const quint32 unique = p.U32v();
        g.sst.reserve(std::min<quint32>(unique, 1u << 20));
        for (quint32 i = 0; i < unique && !p.AtEnd(); ++i) {
          const int chars = p.U16v();
          budget.Charge(TSheetBudget::TextBytes(chars));
          g.sst.push_back(p.String(chars));
        }
        break;
      }
      default: break;
    }
  }
  return g;
}

void ReadSheetRecords(TRecords& records, TGlobals& g, TSheet& sheet, const TReadOptions& options) {
  const auto sstCount = g.sst.size();
  sheet.texts = std::move(g.sst);  // cells refer to shared strings by the same index
  TRecord r;
  if (!records.Next(r) || r.type != 0x0809) throw ESpreadsheetError(Broken(QStringLiteral("工作表开头")));
  static const TCellFormat general;
  auto format = [&](quint16 xf) -> const TCellFormat& { return xf < g.xfs.size() ? g.xfs[xf] : general; };
  auto show = [&](const char* p) -> const TCellFormat& { return format(U16(p + 4)); };
  auto number = [&](int row, int col, double v, const TCellFormat& f) {
    CheckCellPlace(row, col);
    PutNumber(sheet, row, col, v, f, g.date1904, options);
  };
  auto text = [&](int row, int col, const QString& t) {
    if (t.isEmpty()) return;
    CheckCellPlace(row, col);
    sheet.SetText(row, col, t);
  };
  int pendingRow = -1;  // a formula whose text result follows in STRING
  int pendingCol = -1;
  int nested = 0;       // an embedded chart's substream
  while (records.Next(r)) {
    if (r.type == 0x0809) {
      ++nested;
      continue;
    }
    if (r.type == 0x000A) {
      if (nested-- == 0) return;
      continue;
    }
    if (nested > 0 || r.size < 6) continue;
    const int row = U16(r.data);
    const int col = U16(r.data + 2);
    switch (r.type) {
      case 0x00FD:  // LABELSST
        if (r.size >= 10) {
          const quint32 i = U32(r.data + 6);
          if (i >= sstCount) throw ESpreadsheetError(Broken(QStringLiteral("共享字符串%1不存在").arg(i)));
          if (!sheet.texts[i].isEmpty()) {
            CheckCellPlace(row, col);
            sheet.SetTextIndex(row, col, i);
          }
        }
        break;
      case 0x0204:  // LABEL
      case 0x00D6:  // RSTRING
        text(row, col, UnicodeString(r.data + 6, r.size - 6, 2));
        break;
      case 0x0203:  // NUMBER
        if (r.size >= 14) {
          double v = 0;
          std::memcpy(&v, r.data + 6, 8);
          number(row, col, qFromLittleEndian<double>(&v), show(r.data));
        }
        break;
      case 0x027E:  // RK
        if (r.size >= 10) number(row, col, RkValue(U32(r.data + 6)), show(r.data));
        break;
      case 0x00BD: {  // MULRK
        const int n = (r.size - 6) / 6;
        for (int k = 0; k < n; ++k) {
          const char* p = r.data + 4 + 6 * k;
          number(row, col + k, RkValue(U32(p + 2)), format(U16(p)));
        }
        break;
      }
      case 0x0205:  // BOOLERR
        if (r.size >= 8) {
          if (r.data[7]) {
            text(row, col, ErrorText(quint8(r.data[6])));
          } else {
            CheckCellPlace(row, col);
            sheet.SetBoolean(row, col, r.data[6] != 0);
          }
        }
        break;
      case 0x0006:  // FORMULA: its last result
        if (r.size >= 14) {
          const char* v = r.data + 6;
          if (quint8(v[6]) == 0xFF && quint8(v[7]) == 0xFF) {
            switch (quint8(v[0])) {
              case 0: pendingRow = row; pendingCol = col; break;
              case 1: CheckCellPlace(row, col); sheet.SetBoolean(row, col, v[2] != 0); break;
              case 2: text(row, col, ErrorText(quint8(v[2]))); break;
              default: break;  // an empty text
            }
          } else {
            double d = 0;
            std::memcpy(&d, v, 8);
            number(row, col, qFromLittleEndian<double>(&d), show(r.data));
          }
        }
        break;
      case 0x0207:  // STRING, the text result of the formula before it
        if (pendingRow >= 0) {
          std::vector<QByteArray> pieces{QByteArray(r.data, r.size)};
          records.Continues(pieces);
          TPieces p(std::move(pieces));
          const int chars = p.U16v();
          text(pendingRow, pendingCol, p.String(chars));
          pendingRow = pendingCol = -1;
        }
        break;
      default: break;
    }
  }
}

}  // namespace

std::unique_ptr<TWorkbook> ReadXlsBytes(const QByteArray& bytes, const TReadOptions& options) {
  const TCompoundFile cfb(bytes);
  bool found = false;
  QByteArray stream = cfb.Stream(QStringLiteral("Workbook"), &found);
  if (!found) {
    cfb.Stream(QStringLiteral("Book"), &found);
    if (found) {
      throw ESpreadsheetError(QStringLiteral("不支持 Excel 95 及更早的工作簿，请在表格程序中另存为 Excel 97-2003 或 .xlsx"));
    }
    throw ESpreadsheetError(QStringLiteral("复合文档中没有工作簿"));
  }
  TRecords records(stream);
  TSheetBudget budget;
  budget.SetLimit(kMaxSheetBytes);
  TGlobals g = ReadGlobals(records, budget);
  auto book = std::make_unique<TWorkbook>();
  for (size_t i = 0; i < g.sheets.size(); ++i) {
    TSheet s;
    if (!g.sheets[i].name.isEmpty()) s.name = g.sheets[i].name;
    book->sheets.push_back(std::move(s));
  }
  if (g.sheets.empty()) return book;
  const int active = g.activeTab >= 0 && size_t(g.activeTab) < g.sheets.size() ? g.activeTab : 0;
  book->activeSheet = active;
  if (g.sheets[size_t(active)].kind != 0) return book;  // a chart or macro sheet holds no cells
  records.Seek(g.sheets[size_t(active)].offset);
  TSheet& sheet = book->sheets[size_t(active)];
  sheet.budget = budget;
  ReadSheetRecords(records, g, sheet, options);
  return book;
}
