// The shape of the source tree: each part in the folder that names it, the
// units (a source with its header) in no circle of includes, the windows
// without the bytes of the instrument line, the data layer without widgets,
// the record table's captions written once.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace {

const QString kSrc = QStringLiteral(QT_TESTCASE_SOURCEDIR "/../src");

struct TFile {
  QString unit;  // path under src without its extension: "forms/UMain"
  QString text;
};

std::vector<TFile> Sources(const QString& folder = QString()) {
  std::vector<TFile> out;
  QDirIterator it(kSrc + (folder.isEmpty() ? QString() : QLatin1Char('/') + folder),
                  {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile f(it.next());
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QString rel = QDir(kSrc).relativeFilePath(it.filePath());
    out.push_back({rel.left(rel.lastIndexOf(QLatin1Char('.'))), QString::fromUtf8(f.readAll())});
  }
  return out;
}

// The project's own includes of a file, as units.
QStringList Includes(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^\\s*#include\\s+\"([^\"]+)\\.(?:h|cpp)\""),
                                     QRegularExpression::MultilineOption);
  QStringList out;
  for (auto m = re.globalMatch(text); m.hasNext();) out << m.next().captured(1);
  return out;
}

// The lines of a text outside comments.
QString Code(const QString& text) {
  static const QRegularExpression comment(QStringLiteral("//[^\n]*"));
  return QString(text).remove(comment);
}

TEST(SourceLayout, NoUnitsDependOnEachOtherInACircle) {
  std::map<QString, std::set<QString>> edges;
  std::set<QString> units;
  for (const TFile& f : Sources()) units.insert(f.unit);
  for (const TFile& f : Sources()) {
    for (const QString& inc : Includes(f.text)) {
      if (inc != f.unit && units.count(inc)) edges[f.unit].insert(inc);
    }
  }
  // A depth-first walk; a unit met again on the path closes a circle.
  std::map<QString, int> state;  // 1 on the path, 2 done
  QStringList path;
  QStringList circle;
  std::function<bool(const QString&)> walk = [&](const QString& u) {
    state[u] = 1;
    path << u;
    for (const QString& next : edges[u]) {
      if (state[next] == 1) {
        circle = path.mid(path.indexOf(next)) << next;
        return true;
      }
      if (state[next] == 0 && walk(next)) return true;
    }
    path.removeLast();
    state[u] = 2;
    return false;
  };
  for (const QString& u : units) {
    if (state[u] == 0 && walk(u)) break;
  }
  EXPECT_TRUE(circle.isEmpty()) << circle.join(QStringLiteral(" → ")).toStdString();
}

TEST(SourceLayout, TheWindowsNeverTouchTheBytesOfTheLine) {
  static const QRegularExpression forbidden(
      QStringLiteral("\\b(SendBuffer|WaitReply|TCircleRoad|AccessInstance|kReply[A-Z]\\w*|Expect\\s*\\()"));
  for (const TFile& f : Sources(QStringLiteral("forms"))) {
    const auto m = forbidden.match(Code(f.text));
    EXPECT_FALSE(m.hasMatch()) << f.unit.toStdString() << ": " << m.captured(0).toStdString();
  }
}

TEST(SourceLayout, TheDataLayerHasNoWidgets) {
  static const QRegularExpression widget(QStringLiteral(
      "#include\\s+[<\"](QWidget|QDialog|QTableView|QMessageBox|QPushButton|QApplication|QtWidgets/\\w+|"
      "platform/StringGrid\\.h|forms/\\w+\\.h)[>\"]"));
  for (const TFile& f : Sources(QStringLiteral("data"))) {
    const auto m = widget.match(f.text);
    EXPECT_FALSE(m.hasMatch()) << f.unit.toStdString() << ": " << m.captured(0).toStdString();
  }
}

// The record table's captions stand in one place; the printed report's
// captions are its own texts ("测试电阻A") and are not the table's.
TEST(SourceLayout, TheRecordTablesCaptionsAreWrittenOnce) {
  for (const char* caption : {"\"测试电阻(A)\"", "\"测试电阻(B)\"", "\"测试电阻(C)\"", "\"测试人员\"", "\"测试地点\""}) {
    QStringList where;
    for (const TFile& f : Sources()) {
      if (f.unit == QLatin1String("forms/UQRMain")) continue;
      if (Code(f.text).contains(QString::fromUtf8(caption))) where << f.unit;
    }
    EXPECT_EQ(where, QStringList{QStringLiteral("data/RecordTable")}) << caption;
  }
}

}  // namespace
