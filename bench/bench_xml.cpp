// The XML of the largest sheet (1,048,575 records written by the program),
// tokenised three ways, alternated: the scanner the zipped formats use, expat
// with handlers that do nothing, and expat behind the token-by-token reading
// the XML 2003 reader uses. Prints the time of each run.
//   bench_xml [WORKBOOK.xlsx]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <expat.h>

#include <cstdio>

#include "data/UDataCenter.h"
#include "forms/UDataFiles.h"
#include "platform/StringGrid.h"
#include "spreadsheet/XmlPull.h"
#include "spreadsheet/ZipXml.h"
#include "support/TestServices.h"

namespace {

const QString kMember = QStringLiteral("xl/worksheets/sheet1.xml");

QString MakeWorkbook(const QString& folder) {
  TStringGrid grid(11, 2);
  std::vector<QStringList> rows;
  rows.reserve(1048575);
  for (int r = 1; r <= 1048575; ++r) {
    rows.push_back({QString::asprintf("%2d", r), QStringLiteral("08-03-05 09:07"), QStringLiteral("QK-%1").arg(r),
                    QStringLiteral("张三"), QStringLiteral("变电站%1号").arg(r % 97), QStringLiteral("200A"),
                    QStringLiteral("30 秒"), QStringLiteral("三相"), QStringLiteral("%1.25").arg(r % 1000),
                    QStringLiteral("%1.50").arg(r % 1000), QStringLiteral("%1.75").arg(r % 1000)});
  }
  grid.ReplaceDataRows(std::move(rows));
  const QString name = folder + QStringLiteral("/million.xlsx");
  DataFiles::SaveFileAs(nullptr, name, &grid, 1048575);
  return name;
}

void Report(const char* who, const QElapsedTimer& t, long tokens) {
  std::printf("  %-34s %8.0f ms  %ld tokens\n", who, double(t.nsecsElapsed()) / 1e6, tokens);
  std::fflush(stdout);
}

void Scanner(const QByteArray& bytes) {
  QElapsedTimer t;
  t.start();
  const TZipArchive zip(bytes);
  TZipXml x(zip, kMember);
  long tokens = 0;
  for (auto k = x.Next(); k != TZipXml::EndDocument; k = x.Next()) ++tokens;
  Report("scanner (ZipXml)", t, tokens);
}

long gEvents = 0;

void BareExpat(const QByteArray& bytes) {
  QElapsedTimer t;
  t.start();
  const TZipArchive zip(bytes);
  TZipMember member(zip, kMember);
  XML_Parser p = XML_ParserCreate(nullptr);
  XML_SetElementHandler(p, [](void*, const char*, const char**) { ++gEvents; }, [](void*, const char*) { ++gEvents; });
  XML_SetCharacterDataHandler(p, [](void*, const char*, int) { ++gEvents; });
  gEvents = 0;
  for (;;) {
    void* buffer = XML_GetBuffer(p, 1 << 18);
    const auto n = member.Read(static_cast<char*>(buffer), 1 << 18);
    if (XML_ParseBuffer(p, int(n), n == 0) != XML_STATUS_OK) break;
    if (n == 0) break;
  }
  XML_ParserFree(p);
  Report("expat, handlers doing nothing", t, gEvents);
}

void ExpatPull(const QByteArray& bytes) {
  QElapsedTimer t;
  t.start();
  const TZipArchive zip(bytes);
  TZipMember member(zip, kMember);
  TXmlPull x(member, kMember);
  long tokens = 0;
  for (auto k = x.Next(); k != TXmlPull::EndDocument; k = x.Next()) ++tokens;
  Report("expat, token by token (XmlPull)", t, tokens);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TScriptedDesktop desktop;
  TRecordingMessages messages;
  QTemporaryDir dir;
  const QString name = argc > 1 ? QString::fromLocal8Bit(argv[1]) : MakeWorkbook(dir.path());
  QFile f(name);
  if (!f.open(QIODevice::ReadOnly)) return 1;
  const QByteArray bytes = f.readAll();
  std::printf("%s of %s, three rounds\n", kMember.toUtf8().constData(), name.toUtf8().constData());
  for (int round = 0; round < 3; ++round) {
    Scanner(bytes);
    BareExpat(bytes);
    ExpatPull(bytes);
  }
  return 0;
}
