#include "support/SpreadsheetFixtures.h"

#include "spreadsheet/SpreadsheetBook.h"

#include <QFile>
#include <QtEndian>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

namespace {

// ---- little-endian writer -----------------------------------------------------

class TBytes {
 public:
  void U8(unsigned v) { FData.append(static_cast<char>(v & 0xFF)); }
  void U16(unsigned v) {
    U8(v);
    U8(v >> 8);
  }
  void U32(quint32 v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void F64(double d) {
    quint64 bits;
    std::memcpy(&bits, &d, 8);
    U32(static_cast<quint32>(bits & 0xFFFFFFFFu));
    U32(static_cast<quint32>(bits >> 32));
  }
  void Raw(const QByteArray& b) { FData.append(b); }
  void Zeros(int n) { FData.append(QByteArray(n, '\0')); }
  int Size() const { return static_cast<int>(FData.size()); }
  const QByteArray& Data() const { return FData; }
  void PatchU32(int at, quint32 v) { qToLittleEndian<quint32>(v, FData.data() + at); }

 private:
  QByteArray FData;
};

QByteArray Utf16Le(const QString& s) {
  QByteArray out;
  for (const QChar c : s) {
    out.append(static_cast<char>(c.unicode() & 0xFF));
    out.append(static_cast<char>(c.unicode() >> 8));
  }
  return out;
}

// ---- BIFF8 --------------------------------------------------------------------

void Record(TBytes& out, unsigned id, const TBytes& body) {
  out.U16(id);
  out.U16(static_cast<unsigned>(body.Size()));
  out.Raw(body.Data());
}

TBytes Bof(unsigned kind) {
  TBytes b;
  b.U16(0x0600);  // BIFF8
  b.U16(kind);    // 0x0005 workbook globals, 0x0010 worksheet
  b.U16(0x0DBB);
  b.U16(0x07CC);
  b.U32(0);
  b.U32(6);
  return b;
}

// Font, the 21 style and cell formats every workbook carries, and a cell
// format 15 for the cells.
void Styles(TBytes& out) {
  for (int i = 0; i < 5; ++i) {  // font 4 does not exist in BIFF; five keep indexes simple
    TBytes f;
    f.U16(200);     // height in twips
    f.U16(0);       // attributes
    f.U16(0x7FFF);  // colour
    f.U16(400);     // weight
    f.U16(0);       // escapement
    f.U8(0);        // underline
    f.U8(0);        // family
    f.U8(0);        // charset
    f.U8(0);
    const QString name = QStringLiteral("Arial");
    f.U8(static_cast<unsigned>(name.size()));
    f.U8(0);  // compressed
    f.Raw(name.toLatin1());
    Record(out, 0x0031, f);
  }
  for (int i = 0; i < 16; ++i) {  // style formats 0..14, cell format 15
    TBytes x;
    x.U16(0);                                // font
    x.U16(0);                                // number format: General
    x.U16(i < 15 ? 0xFFF5 : 0x0001);         // style XF / cell XF, locked
    x.U8(0x20);                              // alignment
    x.U8(0);                                 // rotation
    x.U8(0);                                 // indent
    x.U8(i < 15 ? 0 : 0xF8);                 // used attributes
    x.U32(0);
    x.U32(0);
    x.U16(0x20C0);
    Record(out, 0x00E0, x);
  }
  TBytes style;  // the Normal style
  style.U16(0x8000);
  style.U8(0);
  style.U8(0xFF);
  Record(out, 0x0293, style);
}

QByteArray BiffStream(const TFixtureRows& rows, const QString& sheetName) {
  // shared strings in order of first use
  QStringList sst;
  int total = 0;
  for (const auto& row : rows) {
    for (const auto& c : row) {
      if (const QString* s = std::get_if<QString>(&c.value)) {
        ++total;
        if (!sst.contains(*s)) sst << *s;
      }
    }
  }

  TBytes g;
  Record(g, 0x0809, Bof(0x0005));
  {
    TBytes cp;
    cp.U16(1200);  // UTF-16
    Record(g, 0x0042, cp);
  }
  {
    TBytes w;  // WINDOW1
    w.U16(0);
    w.U16(0);
    w.U16(0x4000);
    w.U16(0x2000);
    w.U16(0x0038);
    w.U16(0);
    w.U16(0);
    w.U16(1);
    w.U16(0x0258);
    Record(g, 0x003D, w);
  }
  Styles(g);
  const int boundSheetAt = g.Size();
  {
    TBytes bs;
    bs.U32(0);  // patched: where the sheet's BOF starts
    bs.U8(0);   // visible
    bs.U8(0);   // worksheet
    bs.U8(static_cast<unsigned>(sheetName.size()));
    bs.U8(1);  // UTF-16
    bs.Raw(Utf16Le(sheetName));
    Record(g, 0x0085, bs);
  }
  {
    TBytes s;
    s.U32(static_cast<quint32>(total));
    s.U32(static_cast<quint32>(sst.size()));
    for (const QString& t : sst) {
      s.U16(static_cast<unsigned>(t.size()));
      s.U8(1);
      s.Raw(Utf16Le(t));
    }
    Record(g, 0x00FC, s);
  }
  Record(g, 0x000A, TBytes{});

  const int sheetAt = g.Size();
  g.PatchU32(boundSheetAt + 4, static_cast<quint32>(sheetAt));
  Record(g, 0x0809, Bof(0x0010));
  {
    int firstRow = -1, lastRow = -1, lastCol = -1;
    for (size_t r = 0; r < rows.size(); ++r) {
      for (size_t c = 0; c < rows[r].size(); ++c) {
        if (rows[r][c].IsEmpty()) continue;
        if (firstRow < 0) firstRow = static_cast<int>(r);
        lastRow = static_cast<int>(r);
        lastCol = std::max(lastCol, static_cast<int>(c));
      }
    }
    TBytes d;
    d.U32(firstRow < 0 ? 0 : static_cast<quint32>(firstRow));
    d.U32(static_cast<quint32>(lastRow + 1));
    d.U16(0);
    d.U16(static_cast<unsigned>(lastCol + 1));
    d.U16(0);
    Record(g, 0x0200, d);
  }
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const TFixtureCell& cell = rows[r][c];
      if (const QString* s = std::get_if<QString>(&cell.value)) {
        TBytes l;
        l.U16(static_cast<unsigned>(r));
        l.U16(static_cast<unsigned>(c));
        l.U16(15);
        l.U32(static_cast<quint32>(sst.indexOf(*s)));
        Record(g, 0x00FD, l);
      } else if (const double* v = std::get_if<double>(&cell.value)) {
        TBytes n;
        n.U16(static_cast<unsigned>(r));
        n.U16(static_cast<unsigned>(c));
        n.U16(15);
        n.F64(*v);
        Record(g, 0x0203, n);
      }
    }
  }
  Record(g, 0x000A, TBytes{});
  return g.Data();
}

// ---- compound file --------------------------------------------------------------

constexpr quint32 kFreeSect = 0xFFFFFFFFu;
constexpr quint32 kEndOfChain = 0xFFFFFFFEu;
constexpr quint32 kFatSect = 0xFFFFFFFDu;
constexpr quint32 kNoStream = 0xFFFFFFFFu;

void DirEntry(TBytes& d, const QString& name, unsigned type, quint32 child, quint32 start, quint32 size) {
  QByteArray n = Utf16Le(name);
  const int nameBytes = name.isEmpty() ? 0 : static_cast<int>(n.size()) + 2;
  n.append(QByteArray(64 - n.size(), '\0'));
  d.Raw(n);
  d.U16(static_cast<unsigned>(nameBytes));
  d.U8(type);
  d.U8(1);  // black
  d.U32(kNoStream);
  d.U32(kNoStream);
  d.U32(child);
  d.Zeros(16);  // class id
  d.U32(0);     // state
  d.Zeros(16);  // times
  d.U32(start);
  d.U32(size);
  d.U32(0);
}

QByteArray CompoundFile(QByteArray stream) {
  // Streams under 4096 bytes would live in the mini stream; a padded stream
  // keeps to ordinary sectors. The padding follows the last EOF record.
  const int declared = static_cast<int>(stream.size());
  if (stream.size() < 4096) stream.append(QByteArray(4096 - stream.size(), '\0'));
  const quint32 streamSize = static_cast<quint32>(std::max(declared, 4096));
  const int sectors = static_cast<int>((stream.size() + 511) / 512);
  stream.append(QByteArray(sectors * 512 - stream.size(), '\0'));
  if (sectors > 126) ADD_FAILURE() << "fixture too large for one FAT sector";

  TBytes h;
  const unsigned char magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  h.Raw(QByteArray(reinterpret_cast<const char*>(magic), 8));
  h.Zeros(16);
  h.U16(0x003E);
  h.U16(0x0003);
  h.U16(0xFFFE);
  h.U16(9);
  h.U16(6);
  h.Zeros(6);
  h.U32(0);           // directory sectors (version 3)
  h.U32(1);           // FAT sectors
  h.U32(1);           // first directory sector
  h.U32(0);           // transaction
  h.U32(0x1000);      // mini stream cutoff
  h.U32(kEndOfChain);  // mini FAT
  h.U32(0);
  h.U32(kEndOfChain);  // DIFAT
  h.U32(0);
  h.U32(0);  // DIFAT[0]: the FAT is sector 0
  for (int i = 1; i < 109; ++i) h.U32(kFreeSect);

  TBytes fat;
  fat.U32(kFatSect);
  fat.U32(kEndOfChain);
  for (int i = 0; i < sectors; ++i) fat.U32(i + 1 < sectors ? static_cast<quint32>(i + 3) : kEndOfChain);
  while (fat.Size() < 512) fat.U32(kFreeSect);

  TBytes dir;
  DirEntry(dir, QStringLiteral("Root Entry"), 5, 1, kEndOfChain, 0);
  DirEntry(dir, QStringLiteral("Workbook"), 2, kNoStream, 2, streamSize);
  DirEntry(dir, QString(), 0, kNoStream, 0, 0);
  DirEntry(dir, QString(), 0, kNoStream, 0, 0);

  QByteArray out = h.Data();
  out.append(fat.Data());
  out.append(dir.Data());
  out.append(stream);
  return out;
}

QString XmlEscaped(const QString& s) { return s.toHtmlEscaped(); }

QString NumberText(double v) { return QString::number(v, 'g', 17); }

}  // namespace

QByteArray MakeXlsWorkbook(const TFixtureRows& rows, const QString& sheetName) {
  return CompoundFile(BiffStream(rows, sheetName));
}

QByteArray MakeStoredZip(const std::vector<std::pair<QString, QByteArray>>& entries) {
  TBytes z;
  TBytes central;
  for (const auto& [name, data] : entries) {
    const QByteArray n = name.toUtf8();
    const quint32 crc = static_cast<quint32>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size())));
    const auto size = static_cast<quint32>(data.size());
    const auto offset = static_cast<quint32>(z.Size());
    z.U32(0x04034b50);
    z.U16(20);
    z.U16(0x0800);  // UTF-8 names
    z.U16(0);       // stored
    z.U16(0);
    z.U16(0x0021);  // 1980-01-01
    z.U32(crc);
    z.U32(size);
    z.U32(size);
    z.U16(static_cast<unsigned>(n.size()));
    z.U16(0);
    z.Raw(n);
    z.Raw(data);

    central.U32(0x02014b50);
    central.U16(20);
    central.U16(20);
    central.U16(0x0800);
    central.U16(0);
    central.U16(0);
    central.U16(0x0021);
    central.U32(crc);
    central.U32(size);
    central.U32(size);
    central.U16(static_cast<unsigned>(n.size()));
    central.U16(0);
    central.U16(0);
    central.U16(0);
    central.U16(0);
    central.U32(0);
    central.U32(offset);
    central.Raw(n);
  }
  const auto cdOffset = static_cast<quint32>(z.Size());
  z.Raw(central.Data());
  z.U32(0x06054b50);
  z.U16(0);
  z.U16(0);
  z.U16(static_cast<unsigned>(entries.size()));
  z.U16(static_cast<unsigned>(entries.size()));
  z.U32(static_cast<quint32>(central.Size()));
  z.U32(cdOffset);
  z.U16(0);
  return z.Data();
}

QByteArray MakeOdsWorkbook(const TFixtureRows& rows, const QString& sheetName) {
  QString x = QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.2\">"
      "<office:body><office:spreadsheet>");
  x += QStringLiteral("<table:table table:name=\"%1\">").arg(XmlEscaped(sheetName));
  for (const auto& row : rows) {
    x += QStringLiteral("<table:table-row>");
    for (const auto& c : row) {
      if (const QString* s = std::get_if<QString>(&c.value)) {
        x += QStringLiteral("<table:table-cell office:value-type=\"string\"><text:p>%1</text:p></table:table-cell>")
                 .arg(XmlEscaped(*s));
      } else if (const double* v = std::get_if<double>(&c.value)) {
        x += QStringLiteral(
                 "<table:table-cell office:value-type=\"float\" office:value=\"%1\"><text:p>%1</text:p>"
                 "</table:table-cell>")
                 .arg(NumberText(*v));
      } else {
        x += QStringLiteral("<table:table-cell/>");
      }
    }
    if (row.empty()) x += QStringLiteral("<table:table-cell/>");
    x += QStringLiteral("</table:table-row>");
  }
  x += QStringLiteral("</table:table></office:spreadsheet></office:body></office:document-content>\n");

  const QByteArray manifest(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
      "manifest:version=\"1.2\">"
      "<manifest:file-entry manifest:full-path=\"/\" "
      "manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/>"
      "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
      "</manifest:manifest>\n");
  return MakeStoredZip({{QStringLiteral("mimetype"), QByteArray("application/vnd.oasis.opendocument.spreadsheet")},
                        {QStringLiteral("content.xml"), x.toUtf8()},
                        {QStringLiteral("META-INF/manifest.xml"), manifest}});
}

QByteArray MakeXmlSpreadsheet(const TFixtureRows& rows, const QString& sheetName) {
  QString x = QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<?mso-application progid=\"Excel.Sheet\"?>\n"
      "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
      "xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
      "xmlns:x=\"urn:schemas-microsoft-com:office:excel\" "
      "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">\n");
  x += QStringLiteral("<Worksheet ss:Name=\"%1\"><Table>\n").arg(XmlEscaped(sheetName));
  bool skipped = false;
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    bool any = false;
    for (const auto& c : row) any = any || !c.IsEmpty();
    if (!any) {
      skipped = true;
      continue;
    }
    x += skipped ? QStringLiteral("<Row ss:Index=\"%1\">").arg(r + 1) : QStringLiteral("<Row>");
    skipped = false;
    bool gap = false;
    for (size_t c = 0; c < row.size(); ++c) {
      const TFixtureCell& cell = row[c];
      if (cell.IsEmpty()) {
        gap = true;
        continue;
      }
      x += gap ? QStringLiteral("<Cell ss:Index=\"%1\">").arg(c + 1) : QStringLiteral("<Cell>");
      gap = false;
      if (const QString* s = std::get_if<QString>(&cell.value)) {
        x += QStringLiteral("<Data ss:Type=\"String\">%1</Data>").arg(XmlEscaped(*s));
      } else {
        x += QStringLiteral("<Data ss:Type=\"Number\">%1</Data>").arg(NumberText(std::get<double>(cell.value)));
      }
      x += QStringLiteral("</Cell>");
    }
    x += QStringLiteral("</Row>\n");
  }
  x += QStringLiteral("</Table></Worksheet></Workbook>\n");
  return x.toUtf8();
}

void WriteFixtureFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(f.write(bytes), bytes.size());
  f.close();
}

TReadBack::TReadBack(const QString& fileName) : FBook(ReadWorkbookFile(fileName)) {}

TReadBack::~TReadBack() = default;

const TSheet& TReadBack::Sheet() const { return FBook->sheets.at(size_t(FBook->activeSheet)); }

QString TReadBack::CellValue(int row, int col) const { return Sheet().CellText(row - 1, col - 1); }

int TReadBack::UsedRangeRowsCount() const { return Sheet().UsedRowCount(); }
