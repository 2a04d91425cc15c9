#pragma once
// The record table: the eleven columns that the instrument and archive
// tables, the data files, the results history and the reports share, in one
// place. A column is named here by what it holds; its caption is the text
// the tables show above it and the files store it under.
#include <QString>
#include <QStringList>

#include "platform/TextTable.h"

namespace Record {

enum TColumn : int {
  kNumber = 0,    // "序号": the row's number, "%2d"
  kTime = 1,      // "时间": "yy-mm-dd hh:nn"
  kDevice = 2,    // "设备编号"
  kTester = 3,    // "测试人员"
  kPlace = 4,     // "测试地点"
  kRange = 5,     // "测试档位": "100A" or "200A"
  kLoadTime = 6,  // "载流时间": seconds, "30 秒" or "30秒"
  kPhase = 7,     // "测试相": "单相" or "三相"
  kOhmA = 8,      // "测试电阻(A)": the resistance of phase A as a value text
  kOhmB = 9,      // "测试电阻(B)"
  kOhmC = 10,     // "测试电阻(C)"
};
constexpr int kColumns = 11;

// What a column holds.
enum class TKind { Number, Time, Text, Range, LoadTime, Phase, Resistance };
TKind KindOf(int column);

// The captions of the columns, kNumber first.
const QStringList& Captions();
QString Caption(int column);

// The column of the resistance of phase 0 (A), 1 (B) or 2 (C).
constexpr int OhmColumn(int phase) { return kOhmA + phase; }

// The phase texts of a record.
inline const QString kSinglePhase = QStringLiteral("单相");
inline const QString kThreePhases = QStringLiteral("三相");
// A record of all three phases: phases B and C have values.
inline bool IsThreePhase(const QString& phase) { return phase == kThreePhases; }

}  // namespace Record

// Records as a value: rows of the record table's columns, kept compactly.
class TRecordTable : public TTextTable {
 public:
  explicit TRecordTable(bool findRepeats = true) : TTextTable(Record::kColumns, findRepeats) {}
};
