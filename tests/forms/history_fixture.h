#pragma once
// The tab "历史记录" on a history of its own (an SQLite file in a temporary
// folder, which is also the settings folder), shown at a usual size, with
// message boxes answered by the test.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "data/UDataCenter.h"
#include "forms/UHistory.h"
#include "history/ResultStore.h"
#include "support/TestServices.h"

class HistoryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAppDir(FDir.path());
    FStore = std::make_unique<TResultStore>(FDir.filePath(QStringLiteral("results.sqlite")));
    Page = std::make_unique<THistoryPage>([this] { return FStore.get(); }, [] { return QString(); });
    Page->resize(1000, 600);
    Page->show();
  }
  void TearDown() override {
    Page.reset();
    FStore.reset();
    SetAppDir(QString());
  }

  QTemporaryDir FDir;
  std::unique_ptr<TResultStore> FStore;
  std::unique_ptr<THistoryPage> Page;
  TRecordingMessages Msgs;
};
