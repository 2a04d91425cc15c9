#include "history/Assessment.h"

#include <algorithm>
#include <cmath>

#include "history/ResultValues.h"

QString TVerdict::Text() const {
  switch (kind) {
    case TVerdictKind::Pass: return QStringLiteral("合格");
    case TVerdictKind::Attention: return QStringLiteral("注意");
    case TVerdictKind::Fail: return QStringLiteral("不合格");
    case TVerdictKind::NotJudged: break;
  }
  return {};
}

namespace {

void Worsen(TVerdict& v, TVerdictKind k) {
  if (int(k) > int(v.kind)) v.kind = k;
}
}  // namespace

std::optional<double> ReferenceOf(const TCriteria& c, const std::array<std::optional<double>, 3>& reference,
                                  int phase) {
  if (c.referenceMicroOhm) return c.referenceMicroOhm;
  const std::optional<double>& first = reference[size_t(phase)];
  if (!first || !(std::floor(*first * 10 + 1e-6) > 0)) return std::nullopt;
  return first;
}

TVerdict Assess(const std::array<std::optional<double>, 3>& value, const TCriteria& c,
                const std::array<std::optional<double>, 3>& reference) {
  TVerdict v;
  int present = 0;
  double low = 0;
  double high = 0;
  for (int p = 0; p < 3; ++p) {
    if (!value[size_t(p)]) continue;
    const double x = *value[size_t(p)];
    low = present == 0 ? x : std::min(low, x);
    high = present == 0 ? x : std::max(high, x);
    ++present;
  }
  if (present == 0) return v;  // nothing to judge
  v.kind = TVerdictKind::Pass;
  v.maxMicroOhm = high;

  if (c.maxMicroOhm) {
    for (int p = 0; p < 3; ++p) {
      if (value[size_t(p)] && *value[size_t(p)] > *c.maxMicroOhm) {
        Worsen(v, TVerdictKind::Fail);
        // Just over the limit shows as many decimals as it takes to say so.
        v.reasons << QStringLiteral("%1 %2 μΩ 超过上限 %3")
                         .arg(PhaseLabel(p), AboveText(*value[size_t(p)], *c.maxMicroOhm),
                              TypedMicroOhmText(*c.maxMicroOhm));
      }
    }
  }

  std::optional<double> rise;
  for (int p = 0; p < 3; ++p) {
    const std::optional<double> ref = ReferenceOf(c, reference, p);
    if (!value[size_t(p)] || !ref || *ref <= 0) continue;
    const double r = (*value[size_t(p)] / *ref - 1) * 100;
    rise = rise ? std::max(*rise, r) : r;
  }
  if (rise) {
    v.risePercent = rise;
    const double allowed = (c.riseFactor - 1) * 100;
    if (*rise > allowed + 1e-9) {
      Worsen(v, TVerdictKind::Fail);
      v.reasons << QStringLiteral("较基准上升 %1 %").arg(PercentAboveText(*rise, allowed));
    }
  }

  if (present >= 2 && low > 0) {
    const double imbalance = (high - low) / low * 100;
    v.imbalancePercent = imbalance;
    if (imbalance > c.imbalancePercent + 1e-9) {
      Worsen(v, TVerdictKind::Attention);
      v.reasons << QStringLiteral("三相不平衡 %1 %").arg(PercentAboveText(imbalance, c.imbalancePercent));
    }
  }
  return v;
}
