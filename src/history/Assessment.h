#pragma once
// How a result is judged: against the breaker maker's maximum, against the
// same device's reference value (IEC 62271-1 accepts up to 1.2 times it),
// and across the poles (a pole more than 50 % above the lowest is looked
// into, as NETA's acceptance testing guidance suggests).
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

struct TCriteria {
  std::optional<double> maxMicroOhm;        // empty: not judged against a maximum
  std::optional<double> referenceMicroOhm;  // typed in; empty: the device's first result
  double riseFactor = 1.2;
  double imbalancePercent = 50;
};

enum class TVerdictKind { NotJudged, Pass, Attention, Fail };

struct TVerdict {
  TVerdictKind kind = TVerdictKind::NotJudged;
  QStringList reasons;  // "B相 61.6 μΩ 超过上限 55.0 μΩ", "较基准上升 34 %", "三相不平衡 58 %"
  QString Text() const;  // "合格", "注意", "不合格", or empty
  // Worst rise over the reference and pole imbalance, in %, where judged.
  std::optional<double> risePercent;
  std::optional<double> imbalancePercent;
  std::optional<double> maxMicroOhm;  // the highest phase value
};

// Values of phases A, B, C in micro-ohms (a single-phase result has A only);
// reference per phase (a typed-in reference applies to all three).
TVerdict Assess(const std::array<std::optional<double>, 3>& microOhm, const TCriteria& criteria,
                const std::array<std::optional<double>, 3>& reference);
// The reference phase p is judged against: the typed one, else the device's
// first value of the phase. A first value that shows as "0.0 μΩ" (a shorted
// first test) is no reference: nothing can rise against it.
std::optional<double> ReferenceOf(const TCriteria& criteria, const std::array<std::optional<double>, 3>& reference,
                                  int phase);
