#include "spreadsheet/XlsxWrite.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <functional>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

namespace {

constexpr int kCellChars = 32767;

const char* const kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* const kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// Text as XML character data; characters XML cannot hold as "_xHHHH_", and
// a "_x" that would read as such an escape protected the same way.
void AppendEscaped(QByteArray& out, QStringView s) {
  const QByteArray u = s.toUtf8();
  for (qsizetype i = 0; i < u.size(); ++i) {
    const char c = u[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '_':
        if (i + 6 < u.size() && u[i + 1] == 'x' && u[i + 6] == '_') {
          out += "_x005F_";
        } else {
          out += c;
        }
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          char buf[8];
          std::snprintf(buf, sizeof buf, "_x%04X_", unsigned(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          out += c;
        }
    }
  }
}

void AppendNumber(QByteArray& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr - buf);
}

void AppendInt(QByteArray& out, long long v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr - buf);
}

void AppendColumn(QByteArray& out, int col) {  // 0-based -> "A", "AB"
  char buf[4];
  int n = 0;
  for (int c = col + 1; c > 0; c = (c - 1) / 26) buf[n++] = char('A' + (c - 1) % 26);
  while (n > 0) out += buf[--n];
}

// Column width as stored: characters of the maximum digit width (7 pixels)
// with 5 pixels of padding, in 1/256 of a character, as Excel stores them.
double StoredWidth(double width) {
  if (width <= 0) return 0;
  const int pixels = width < 1 ? int(width * 12 + 0.5) : int(width * 7 + 0.5) + 5;
  return std::floor(pixels / 7.0 * 256.0) / 256.0;
}

const char* AlignName(std::int32_t code) {
  switch (code) {
    case kAlignLeft: return "left";
    case kAlignCenter: return "center";
    case kAlignRight: return "right";
    case kAlignFill: return "fill";
    case kAlignJustify: return "justify";
    case kAlignCenterAcross: return "centerContinuous";
    default: return nullptr;
  }
}

// Sheet names must be unique, at most 31 characters and free of []:*?/\ .
QString SafeSheetName(const QString& name, int index, const QStringList& taken) {
  QString s = name;
  for (const QChar bad : QStringLiteral("[]:*?/\\")) s.replace(bad, QLatin1Char('_'));
  s = s.left(31);
  if (s.isEmpty() || taken.contains(s, Qt::CaseInsensitive)) s = QStringLiteral("Sheet%1").arg(index + 1);
  return s;
}

bool IsGeneral(const QString& f) { return f.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0; }

struct TStyles {
  // (number format id, alignment) of cell format 1.. ; 0 is the default.
  std::vector<std::pair<int, std::int32_t>> xfs;
  std::map<QString, int> customFormats;  // code -> id from 164

  // The cell format of a sheet: 0 when it has the defaults.
  int Of(const TSheet& s) {
    if (s.align == kAlignGeneral && IsGeneral(s.numberFormat)) return 0;
    int fmt = 0;
    if (s.numberFormat == QLatin1String("@")) {
      fmt = 49;  // the built-in text format
    } else if (!IsGeneral(s.numberFormat)) {
      auto it = customFormats.find(s.numberFormat);
      if (it == customFormats.end()) it = customFormats.emplace(s.numberFormat, 164 + int(customFormats.size())).first;
      fmt = it->second;
    }
    const std::pair<int, std::int32_t> key{fmt, s.align};
    for (size_t i = 0; i < xfs.size(); ++i) {
      if (xfs[i] == key) return int(i) + 1;
    }
    xfs.push_back(key);
    return int(xfs.size());
  }

  QByteArray Xml() const {
    QByteArray x = kHeader;
    x += "<styleSheet xmlns=\"";
    x += kMainNs;
    x += "\">";
    if (!customFormats.empty()) {
      x += "<numFmts count=\"" + QByteArray::number(qsizetype(customFormats.size())) + "\">";
      for (const auto& [code, id] : customFormats) {
        x += "<numFmt numFmtId=\"" + QByteArray::number(id) + "\" formatCode=\"";
        AppendEscaped(x, code);
        x += "\"/>";
      }
      x += "</numFmts>";
    }
    x += "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
         "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
         "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
         "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
    x += "<cellXfs count=\"" + QByteArray::number(qsizetype(xfs.size() + 1)) + "\">";
    x += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
    for (const auto& [fmt, align] : xfs) {
      x += "<xf numFmtId=\"" + QByteArray::number(fmt) + "\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"";
      if (fmt != 0) x += " applyNumberFormat=\"1\"";
      const char* a = AlignName(align);
      if (a) {
        x += " applyAlignment=\"1\"><alignment horizontal=\"";
        x += a;
        x += "\"/></xf>";
      } else {
        x += "/>";
      }
    }
    x += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
         "<dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>";
    return x;
  }
};

struct TSharedStrings {
  QHash<QString, int> index;
  std::vector<QString> strings;
  long long uses = 0;

  int Of(const QString& s) {
    ++uses;
    const auto it = index.constFind(s);
    if (it != index.cend()) return *it;
    const int i = int(strings.size());
    index.insert(s, i);
    strings.push_back(s);
    return i;
  }

  QByteArray Xml() const {
    QByteArray x = kHeader;
    x.reserve(qsizetype(strings.size()) * 24 + 256);
    x += "<sst xmlns=\"";
    x += kMainNs;
    x += "\" count=\"";
    AppendInt(x, uses);
    x += "\" uniqueCount=\"";
    AppendInt(x, qsizetype(strings.size()));
    x += "\">";
    for (const QString& s : strings) {
      const bool keepBlanks = !s.isEmpty() && (s.front().isSpace() || s.back().isSpace());
      x += keepBlanks ? "<si><t xml:space=\"preserve\">" : "<si><t>";
      AppendEscaped(x, s);
      x += "</t></si>";
    }
    x += "</sst>";
    return x;
  }
};

// A worksheet's XML up to its first row: the used range from A1 to the last
// cell (none: A1), the view, the columns.
QByteArray SheetXmlHead(const TSheet& sheet, int style, bool selected, int lastRow, int lastCol) {
  QByteArray x = kHeader;
  x += "<worksheet xmlns=\"";
  x += kMainNs;
  x += "\" xmlns:r=\"";
  x += kRelNs;
  x += "\"><dimension ref=\"";
  if (lastRow < 0) {
    x += "A1";
  } else {
    x += "A1:";
    AppendColumn(x, lastCol);
    AppendInt(x, lastRow + 1);
  }
  x += "\"/><sheetViews><sheetView ";
  if (selected) x += "tabSelected=\"1\" ";
  x += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";

  // Columns: runs of equal width, the overrides between them, up to the last
  // column of the sheet when a format applies to all of them.
  const bool allColumns = style != 0 || sheet.defaultWidth != kStandardColumnWidth;
  const int last = allColumns ? kMaxSheetColumns - 1 : (sheet.widths.empty() ? -1 : sheet.widths.rbegin()->first);
  if (last >= 0) {
    x += "<cols>";
    int c = 0;
    while (c <= last) {
      const double w = sheet.ColumnWidth(c);
      int end = c;
      if (sheet.widths.count(c) == 0) {
        const auto next = sheet.widths.upper_bound(c);
        end = next == sheet.widths.end() ? last : next->first - 1;
      }
      if (allColumns || sheet.widths.count(c) != 0) {
        x += "<col min=\"";
        AppendInt(x, c + 1);
        x += "\" max=\"";
        AppendInt(x, end + 1);
        x += "\" width=\"";
        AppendNumber(x, StoredWidth(w));
        x += "\"";
        if (style != 0) {
          x += " style=\"";
          AppendInt(x, style);
          x += "\"";
        }
        x += " customWidth=\"1\"/>";
      }
      c = end + 1;
    }
    x += "</cols>";
  }
  x += "<sheetData>";
  return x;
}

const char* const kSheetXmlTail =
    "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
    "footer=\"0.3\"/></worksheet>";

// Opens a cell at row, col (0-based) with the style attribute, and its row
// when it is the row's first; the cell's type and value follow. A text of
// textLength characters longer than a cell holds is refused.
void AppendCellStart(QByteArray& x, bool& rowOpen, int row, int col, const QByteArray& styleAttr,
                     qsizetype textLength) {
  if (textLength > kCellChars) {
    throw ESpreadsheetError(QStringLiteral("第%1行第%2列的文字超过 32767 个字符，无法保存").arg(row + 1).arg(col + 1));
  }
  if (!rowOpen) {
    x += "<row r=\"";
    AppendInt(x, qsizetype(row) + 1);
    x += "\">";
    rowOpen = true;
  }
  x += "<c r=\"";
  AppendColumn(x, col);
  AppendInt(x, qsizetype(row) + 1);
  x += "\"";
  x += styleAttr;
}

QByteArray StyleAttr(int style) { return style != 0 ? " s=\"" + QByteArray::number(style) + "\"" : QByteArray(); }

QByteArray SheetXml(const TSheet& sheet, int style, bool selected, TSharedStrings& sst) {
  size_t cells = 0;
  int lastCol = -1;
  int lastRow = -1;
  for (size_t r = 0; r < sheet.rows.size(); ++r) {
    for (const TRowCell& cell : sheet.rows[r]) {
      if (cell.kind == TSheetCell::Kind::Empty) continue;
      ++cells;
      lastCol = std::max(lastCol, int(cell.col));
      lastRow = int(r);
    }
  }
  QByteArray x = SheetXmlHead(sheet, style, selected, lastRow, lastCol);
  x.reserve(qsizetype(cells) * 36 + 1024);
  const QByteArray styleAttr = StyleAttr(style);
  for (size_t r = 0; r < sheet.rows.size(); ++r) {
    const auto& row = sheet.rows[r];
    bool open = false;
    for (const TRowCell& stored : row) {
      const TSheetCell cell{stored.kind, stored.index};
      const int c = stored.col;
      if (cell.kind == TSheetCell::Kind::Empty) continue;
      const QString* text = cell.kind == TSheetCell::Kind::Text ? &sheet.Text(cell) : nullptr;
      AppendCellStart(x, open, int(r), c, styleAttr, text ? text->size() : 0);
      switch (cell.kind) {
        case TSheetCell::Kind::Text: {
          x += " t=\"s\"><v>";
          AppendInt(x, sst.Of(*text));
          break;
        }
        case TSheetCell::Kind::Number:
          x += "><v>";
          AppendNumber(x, sheet.Number(cell));
          break;
        case TSheetCell::Kind::Boolean:
          x += " t=\"b\"><v>";
          x += cell.index != 0 ? '1' : '0';
          break;
        case TSheetCell::Kind::Empty: break;
      }
      x += "</v></c>";
    }
    if (open) x += "</row>";
  }
  x += kSheetXmlTail;
  return x;
}

// The package in memory: libzip writes the archive into a buffer source.
class TPackage {
 public:
  TPackage() {
    zip_error_t error;
    zip_error_init(&error);
    FSource = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (FSource) FZip = zip_open_from_source(FSource, ZIP_TRUNCATE, &error);
    zip_error_fini(&error);
    if (!FZip) {
      if (FSource) zip_source_free(FSource);
      throw ESpreadsheetError(QStringLiteral("无法建立压缩包"));
    }
    zip_source_keep(FSource);  // read back after the archive is closed
  }
  ~TPackage() {
    if (FZip) zip_discard(FZip);
    if (FSource) zip_source_free(FSource);
  }
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  void Add(const char* name, QByteArray data) {
    FParts.push_back(std::move(data));
    const QByteArray& d = FParts.back();
    zip_source_t* s = zip_source_buffer(FZip, d.constData(), zip_uint64_t(d.size()), 0);
    const zip_int64_t i = s ? zip_file_add(FZip, name, s, ZIP_FL_ENC_UTF_8) : -1;
    if (i < 0) {
      if (s) zip_source_free(s);
      throw ESpreadsheetError(QStringLiteral("无法写入压缩包：%1").arg(QString::fromUtf8(zip_strerror(FZip))));
    }
    zip_set_file_compression(FZip, zip_uint64_t(i), ZIP_CM_DEFLATE, 1);
  }

  QByteArray Bytes() {
    if (zip_close(FZip) != 0) {
      throw ESpreadsheetError(QStringLiteral("无法写入压缩包：%1").arg(QString::fromUtf8(zip_strerror(FZip))));
    }
    FZip = nullptr;
    QByteArray out;
    if (zip_source_open(FSource) != 0) throw ESpreadsheetError(QStringLiteral("无法读取压缩包"));
    zip_source_seek(FSource, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(FSource);
    zip_source_seek(FSource, 0, SEEK_SET);
    out.resize(qsizetype(std::max<zip_int64_t>(size, 0)));
    const zip_int64_t got = size > 0 ? zip_source_read(FSource, out.data(), zip_uint64_t(size)) : 0;
    zip_source_close(FSource);
    if (got != size) throw ESpreadsheetError(QStringLiteral("无法读取压缩包"));
    return out;
  }

 private:
  zip_source_t* FSource = nullptr;
  zip_t* FZip = nullptr;
  std::vector<QByteArray> FParts;  // the data stay here until the archive is written
};

// The parts that name the sheets: content types, workbook, its relations.
struct TWorkbookParts {
  QByteArray types;
  QByteArray workbook;
  QByteArray rels;
};

TWorkbookParts WorkbookParts(const std::vector<QString>& sheetNames, int active, bool sharedStrings) {
  TWorkbookParts p;
  p.types = kHeader;
  p.types += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
             "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
             "<Override PartName=\"/xl/workbook.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
             "<Override PartName=\"/xl/styles.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
  if (sharedStrings) {
    p.types += "<Override PartName=\"/xl/sharedStrings.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
  }
  p.workbook = kHeader;
  p.workbook += "<workbook xmlns=\"";
  p.workbook += kMainNs;
  p.workbook += "\" xmlns:r=\"";
  p.workbook += kRelNs;
  p.workbook += "\"><bookViews><workbookView activeTab=\"" + QByteArray::number(active) + "\"/></bookViews><sheets>";
  p.rels = kHeader;
  p.rels += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  QStringList taken;
  for (size_t i = 0; i < sheetNames.size(); ++i) {
    const QByteArray n = QByteArray::number(qsizetype(i) + 1);
    const QString name = SafeSheetName(sheetNames[i], int(i), taken);
    taken << name;
    p.types += "<Override PartName=\"/xl/worksheets/sheet" + n +
               ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    p.workbook += "<sheet name=\"";
    AppendEscaped(p.workbook, name);
    p.workbook += "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    p.rels += "<Relationship Id=\"rId" + n +
              "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
              "Target=\"worksheets/sheet" + n + ".xml\"/>";
  }
  const QByteArray stylesId = QByteArray::number(qsizetype(sheetNames.size()) + 1);
  const QByteArray sstId = QByteArray::number(qsizetype(sheetNames.size()) + 2);
  p.rels += "<Relationship Id=\"rId" + stylesId +
            "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
            "Target=\"styles.xml\"/>";
  if (sharedStrings) {
    p.rels += "<Relationship Id=\"rId" + sstId +
              "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
              "Target=\"sharedStrings.xml\"/>";
  }
  p.rels += "</Relationships>";
  p.workbook += "</sheets></workbook>";
  p.types += "</Types>";
  return p;
}

const char* const kPackageRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";

// The parts every workbook has, in the order spreadsheet programs write
// them, before its sheets.
template <typename TAdd>
void AddWorkbookParts(TAdd add, const TWorkbookParts& parts, const TStyles& styles) {
  add("[Content_Types].xml", parts.types);
  add("_rels/.rels", QByteArray(kHeader) + kPackageRels);
  add("xl/workbook.xml", parts.workbook);
  add("xl/_rels/workbook.xml.rels", parts.rels);
  add("xl/styles.xml", styles.Xml());
}

}  // namespace

QByteArray XlsxFileBytes(const TWorkbook& book) {
  std::vector<const TSheet*> sheets;
  TSheet empty;
  for (const TSheet& s : book.sheets) sheets.push_back(&s);
  if (sheets.empty()) sheets.push_back(&empty);
  const int active = book.activeSheet >= 0 && size_t(book.activeSheet) < sheets.size() ? book.activeSheet : 0;

  TStyles styles;
  TSharedStrings sst;
  TPackage pkg;
  std::vector<QString> names;
  std::vector<QByteArray> sheetXml;
  for (size_t i = 0; i < sheets.size(); ++i) {
    names.push_back(sheets[i]->name);
    sheetXml.push_back(SheetXml(*sheets[i], styles.Of(*sheets[i]), int(i) == active, sst));
  }
  AddWorkbookParts([&](const char* name, QByteArray data) { pkg.Add(name, std::move(data)); },
                   WorkbookParts(names, active, true), styles);
  for (size_t i = 0; i < sheetXml.size(); ++i) {
    pkg.Add(("xl/worksheets/sheet" + QByteArray::number(qsizetype(i) + 1) + ".xml").constData(),
            std::move(sheetXml[i]));
  }
  pkg.Add("xl/sharedStrings.xml", sst.Xml());
  return pkg.Bytes();
}

// ---- streamed -------------------------------------------------------------------

namespace {

// A part of the archive made piece by piece as libzip reads it (a libzip
// source callback), so it is deflated into the file as it is produced.
class TPulledPart {
 public:
  TPulledPart() { zip_error_init(&FError); }
  virtual ~TPulledPart() { zip_error_fini(&FError); }
  TPulledPart(const TPulledPart&) = delete;
  TPulledPart& operator=(const TPulledPart&) = delete;

  // Why the part could not be made (a text too long for a cell); empty when
  // it was.
  const QString& Failure() const { return FFailure; }

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<TPulledPart*>(self)->Command(data, len, cmd);
  }

 protected:
  // Starts the part again from its beginning.
  virtual void Restart() = 0;
  // Appends the next piece to out; false once the last piece is given.
  virtual bool Produce(QByteArray& out) = 0;

 private:
  zip_int64_t Command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        Restart();
        FMore = true;
        FBuffer.clear();
        FPos = 0;
        return 0;
      case ZIP_SOURCE_READ: {
        char* out = static_cast<char*>(data);
        zip_uint64_t given = 0;
        try {
          while (given < len) {
            if (FPos == FBuffer.size()) {
              if (!FMore) break;
              FBuffer.clear();
              FPos = 0;
              FMore = Produce(FBuffer);
              continue;
            }
            const zip_uint64_t n = std::min<zip_uint64_t>(len - given, zip_uint64_t(FBuffer.size() - FPos));
            std::memcpy(out + given, FBuffer.constData() + FPos, size_t(n));
            FPos += qsizetype(n);
            given += n;
          }
        } catch (const ESpreadsheetError& e) {
          FFailure = e.Text();
          zip_error_set(&FError, ZIP_ER_INTERNAL, 0);
          return -1;
        } catch (const std::bad_alloc&) {
          FFailure = QStringLiteral("内存不足");
          zip_error_set(&FError, ZIP_ER_MEMORY, 0);
          return -1;
        }
        return zip_int64_t(given);
      }
      case ZIP_SOURCE_CLOSE: return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->mtime = std::time(nullptr);
        st->valid |= ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR: return zip_error_to_data(&FError, data, len);
      case ZIP_SOURCE_FREE: return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      default: zip_error_set(&FError, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
  }

  zip_error_t FError;
  QString FFailure;
  bool FMore = true;
  QByteArray FBuffer;
  qsizetype FPos = 0;
};

// A worksheet's XML, a few hundred rows a piece.
class TStreamedSheet : public TPulledPart {
 public:
  TStreamedSheet(const TSheet& layout, int style, const TStreamedRows& rows)
      : FLayout(layout), FStyle(style), FStyleAttr(StyleAttr(style)), FRows(rows) {}

  // The shared strings, once the sheet is written: in the order the sheet
  // refers to them (a text shared by two columns is there twice).
  QByteArray SharedStringsXml() const {
    TSharedStrings sst;
    sst.strings = FShared;
    sst.uses = FSharedUses;
    return sst.Xml();
  }

 protected:
  void Restart() override { FNext = -1; }

  // The head, a few hundred rows, or the last rows and the tail.
  bool Produce(QByteArray& out) override {
    if (FNext < 0) {
      out = SheetXmlHead(FLayout, FStyle, true, FRows.count - 1, FRows.columns - 1);
      FNext = 0;
      return true;
    }
    QString scratch;
    const int end = std::min(FRows.count, FNext + 256);
    for (; FNext < end; ++FNext) {
      bool open = false;
      for (int c = 0; c < FRows.columns; ++c) {
        const QStringView text = FRows.cell(FNext, c, scratch);
        if (text.isEmpty()) continue;
        AppendCellStart(out, open, FNext, c, FStyleAttr, text.size());
        const int shared = SharedIndex(c, text);
        if (shared >= 0) {
          out += " t=\"s\"><v>";
          AppendInt(out, shared);
          out += "</v></c>";
          continue;
        }
        const bool keepBlanks = text.front().isSpace() || text.back().isSpace();
        out += keepBlanks ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">" : " t=\"inlineStr\"><is><t>";
        AppendEscaped(out, text);
        out += "</t></is></c>";
      }
      if (open) out += "</row>";
    }
    if (FNext < FRows.count) return true;
    out += kSheetXmlTail;
    return false;
  }

 private:
  // A text that comes again among the last few thousand of its column (a
  // tester, a place, a value) goes to the shared strings, as spreadsheet
  // programs write them, and a reader keeps it once; a text seen once stays
  // inline. -1: write it inline.
  int SharedIndex(int col, QStringView text) {
    if (FSeen.size() < size_t(FRows.columns)) FSeen.resize(size_t(FRows.columns));
    QHash<QString, int>& seen = FSeen[size_t(col)];
    const QString key = text.toString();
    auto it = seen.find(key);
    if (it == seen.end()) {
      // What a column remembers stays small: it starts over when full.
      if (seen.size() >= kRemembered) seen.clear();
      seen.insert(key, -1);
      return -1;
    }
    if (*it < 0) {
      *it = int(FShared.size());
      FShared.push_back(key);
    }
    ++FSharedUses;
    return *it;
  }

  static constexpr qsizetype kRemembered = 4096;
  std::vector<QHash<QString, int>> FSeen;  // a column's texts → shared index, -1 not shared yet
  std::vector<QString> FShared;
  long long FSharedUses = 0;

  const TSheet& FLayout;
  int FStyle;
  QByteArray FStyleAttr;
  const TStreamedRows& FRows;
  int FNext = -1;  // the next row; -1: the head comes first
};

// A part made whole when libzip comes to it (after the parts before it).
class TLatePart : public TPulledPart {
 public:
  explicit TLatePart(std::function<QByteArray()> make) : FMake(std::move(make)) {}

 protected:
  void Restart() override {}
  bool Produce(QByteArray& out) override {
    out = FMake();
    return false;
  }

 private:
  std::function<QByteArray()> FMake;
};

}  // namespace

void WriteXlsxStreamed(const QString& fileName, const TSheet& layout, const TStreamedRows& rows) {
  int error = 0;
  zip_t* zip = zip_open(QFile::encodeName(fileName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    const QString why = QString::fromUtf8(zip_error_strerror(&e));
    zip_error_fini(&e);
    throw ESpreadsheetError(QStringLiteral("无法写入压缩包：%1").arg(why));
  }
  std::vector<QByteArray> parts;  // kept until the archive is written
  auto fail = [&](const QString& why) {
    const QString text = QStringLiteral("无法写入压缩包：%1").arg(why);
    zip_discard(zip);
    throw ESpreadsheetError(text);
  };
  auto add = [&](const char* name, zip_source_t* source) {
    const zip_int64_t i = source ? zip_file_add(zip, name, source, ZIP_FL_ENC_UTF_8) : -1;
    if (i < 0) {
      if (source) zip_source_free(source);
      fail(QString::fromUtf8(zip_strerror(zip)));
    }
    zip_set_file_compression(zip, zip_uint64_t(i), ZIP_CM_DEFLATE, 1);
  };
  TStyles styles;
  const int style = styles.Of(layout);
  AddWorkbookParts(
      [&](const char* name, QByteArray data) {
        parts.push_back(std::move(data));
        add(name, zip_source_buffer(zip, parts.back().constData(), zip_uint64_t(parts.back().size()), 0));
      },
      WorkbookParts({layout.name}, 0, true), styles);
  TStreamedSheet sheet(layout, style, rows);
  add("xl/worksheets/sheet1.xml", zip_source_function(zip, &TPulledPart::Callback, &sheet));
  TLatePart sst([&sheet] { return sheet.SharedStringsXml(); });
  add("xl/sharedStrings.xml", zip_source_function(zip, &TPulledPart::Callback, &sst));
  if (zip_close(zip) != 0) {
    // A text too long for a cell is told as it is, not as a fault of the archive.
    const QString failure = sheet.Failure();
    if (failure.isEmpty()) fail(QString::fromUtf8(zip_strerror(zip)));
    zip_discard(zip);
    throw ESpreadsheetError(failure);
  }
}
