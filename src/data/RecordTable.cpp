#include "data/RecordTable.h"

namespace Record {

const QStringList& Captions() {
  static const QStringList captions = {
      QStringLiteral("序号"),        QStringLiteral("时间"),        QStringLiteral("设备编号"),
      QStringLiteral("测试人员"),    QStringLiteral("测试地点"),    QStringLiteral("测试档位"),
      QStringLiteral("载流时间"),    QStringLiteral("测试相"),      QStringLiteral("测试电阻(A)"),
      QStringLiteral("测试电阻(B)"), QStringLiteral("测试电阻(C)")};
  return captions;
}

QString Caption(int column) { return Captions().value(column); }

TKind KindOf(int column) {
  switch (column) {
    case kNumber: return TKind::Number;
    case kTime: return TKind::Time;
    case kRange: return TKind::Range;
    case kLoadTime: return TKind::LoadTime;
    case kPhase: return TKind::Phase;
    case kOhmA:
    case kOhmB:
    case kOhmC: return TKind::Resistance;
    default: return TKind::Text;
  }
}

}  // namespace Record
