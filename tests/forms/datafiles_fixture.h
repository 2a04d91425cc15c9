#pragma once
// Shared set-up of the data-file tests: the two record tables as the main
// window lays them out, a scratch program folder, and services that answer
// the dialogs and record the message boxes.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include <signal.h>
#include <sys/resource.h>

#include "data/UDataCenter.h"
#include "forms/UDataFiles.h"
#include "forms/UDlgProcess.h"
#include "platform/StringGrid.h"
#include "support/FileSizeLimit.h"
#include "support/TestServices.h"

inline const QStringList kCaptions = {
    QStringLiteral("序号"),       QStringLiteral("时间"),       QStringLiteral("设备编号"),
    QStringLiteral("测试人员"),   QStringLiteral("测试地点"),   QStringLiteral("测试档位"),
    QStringLiteral("载流时间"),   QStringLiteral("测试相"),     QStringLiteral("测试电阻(A)"),
    QStringLiteral("测试电阻(B)"), QStringLiteral("测试电阻(C)")};

// One data row; column 0 is the row number "%2d".
inline QStringList RecordRow(int r) {
  return {QString::asprintf("%2d", r),
          QStringLiteral("08-03-%1 09:07").arg(r, 2, 10, QLatin1Char('0')),
          QStringLiteral("QK-%1").arg(r),
          QStringLiteral("张三"),
          QStringLiteral("变电站%1号").arg(r),
          QStringLiteral("100A"),
          QStringLiteral("30 秒"),
          QStringLiteral("三相"),
          QStringLiteral("%1.25").arg(r),
          QStringLiteral("%1.50").arg(r),
          QStringLiteral("%1.75").arg(r)};
}

class DataFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    SetAppDir(dir.path());
    InstallProgressDialog();
    SGData = std::make_unique<TStringGrid>(11, 2);
    SGSave = std::make_unique<TStringGrid>(11, 2);
    for (int c = 0; c < 11; ++c) {
      SGData->SetCells(c, 0, kCaptions[c]);
      SGSave->SetCells(c, 0, kCaptions[c]);
    }
  }
  void TearDown() override {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetAppDir(QString());
  }

  // Fills rows 1..n of a table with RecordRow and sets its counter.
  void Fill(TStringGrid* grid, int n) {
    grid->SetRowCount(n + 1);
    for (int r = 1; r <= n; ++r) {
      const QStringList row = RecordRow(r);
      for (int c = 0; c < 11; ++c) grid->SetCells(c, r, row[c]);
    }
    (grid == SGData.get() ? giDataCount : giSaveCount) = n;
  }

  QStringList Row(TStringGrid* grid, int r) const {
    QStringList out;
    for (int c = 0; c < 11; ++c) out << grid->Cells(c, r);
    return out;
  }

  QString Folder() const { return QDir(dir.path()).filePath(QStringLiteral("测试记录")); }
  QString InFolder(const QString& name) const { return QDir(Folder()).filePath(name); }

  static QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }

  // The row counters of the two tables (giDataCount for SGData, giSaveCount
  // for SGSave).
  std::int32_t giDataCount = 0;
  std::int32_t giSaveCount = 0;
  QTemporaryDir dir;
  TRecordingMessages messages;
  TScriptedDesktop desktop;
  std::unique_ptr<TStringGrid> SGData;
  std::unique_ptr<TStringGrid> SGSave;
};
