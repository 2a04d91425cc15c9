#include "data/TestSeries.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

#include "platform/IniFile.h"

namespace {

QString Number(double v) { return QString::number(v, 'g', 17); }

std::optional<double> NumberOf(QStringView text, bool& ok) {
  ok = true;
  if (text.isEmpty()) return std::nullopt;
  const double v = text.toDouble(&ok);
  if (!ok || !std::isfinite(v)) {
    ok = false;
    return std::nullopt;
  }
  return v;
}

}  // namespace

TSettleRule SettleRuleOf(const TIniFile& ini) {
  const QString section = QStringLiteral("LiveTest");
  TSettleRule r;
  r.frames = std::clamp(ini.ReadInteger(section, QStringLiteral("SettleFrames"), 5), 2, 60);
  bool ok = false;
  const double percent = ini.ReadString(section, QStringLiteral("SettlePercent"), QStringLiteral("1")).trimmed().toDouble(&ok);
  r.percent = ok && std::isfinite(percent) ? std::clamp(percent, 0.1, 20.0) : 1.0;
  return r;
}

void WriteSettleRule(TIniFile& ini, const TSettleRule& rule) {
  const QString section = QStringLiteral("LiveTest");
  ini.BeginUpdate();
  ini.WriteInteger(section, QStringLiteral("SettleFrames"), rule.frames);
  ini.WriteString(section, QStringLiteral("SettlePercent"), QString::number(rule.percent));
  ini.EndUpdate();
}

bool PhaseMeasured(const TTestSeries& series, int phase) {
  if (phase < 0 || phase > 2) return false;
  return std::any_of(series.begin(), series.end(), [phase](const TSeriesFrame& f) { return f.ohms[size_t(phase)].has_value(); });
}

bool PhaseSettled(const TTestSeries& series, int phase, const TSettleRule& rule) {
  if (phase < 0 || phase > 2 || rule.frames < 1 || int(series.size()) < rule.frames) return false;
  double sum = 0;
  for (size_t i = series.size() - size_t(rule.frames); i < series.size(); ++i) {
    const TSeriesFrame& f = series[i];
    if (f.fault || !f.ohms[size_t(phase)]) return false;
    sum += *f.ohms[size_t(phase)];
  }
  const double mean = sum / rule.frames;
  const double band = std::abs(mean) * rule.percent / 100.0;
  for (size_t i = series.size() - size_t(rule.frames); i < series.size(); ++i) {
    if (std::abs(*series[i].ohms[size_t(phase)] - mean) > band) return false;
  }
  return true;
}

QString SeriesText(const TTestSeries& series) {
  QString out;
  out.reserve(int(series.size()) * 40);
  for (const TSeriesFrame& f : series) {
    out += Number(f.seconds);
    if (f.fault) {
      out += QStringLiteral(";!\n");
      continue;
    }
    for (const std::optional<double>& v : f.ohms) {
      out += QLatin1Char(';');
      if (v) out += Number(*v);
    }
    out += QLatin1Char(';');
    if (f.current) out += Number(*f.current);
    out += QLatin1Char('\n');
  }
  return out;
}

TTestSeries SeriesOfText(const QString& text) {
  TTestSeries out;
  for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
    if (int(out.size()) >= kMaxSeriesFrames) break;
    const QList<QStringView> parts = line.split(u';');
    bool ok = false;
    TSeriesFrame f;
    const std::optional<double> seconds = NumberOf(parts.value(0), ok);
    if (!ok || !seconds) continue;
    f.seconds = *seconds;
    if (parts.size() == 2 && parts[1] == u"!") {
      f.fault = true;
      out.push_back(f);
      continue;
    }
    if (parts.size() != 5) continue;
    bool all = true;
    for (int p = 0; p < 3; ++p) {
      f.ohms[size_t(p)] = NumberOf(parts[p + 1], ok);
      all = all && ok;
    }
    f.current = NumberOf(parts[4], ok);
    if (!all || !ok) continue;
    out.push_back(f);
  }
  return out;
}

QString SeriesCsv(const TTestSeries& series) {
  QString out = QStringLiteral("秒,A相电阻(μΩ),B相电阻(μΩ),C相电阻(μΩ),电流(A),说明\r\n");
  for (const TSeriesFrame& f : series) {
    out += Number(f.seconds);
    for (const std::optional<double>& v : f.ohms) {
      out += QLatin1Char(',');
      if (!f.fault && v) out += QString::number(*v * 1e6, 'f', 3);
    }
    out += QLatin1Char(',');
    if (!f.fault && f.current) out += Number(*f.current);
    out += f.fault ? QStringLiteral(",超量程或接线错误") : QStringLiteral(",");
    out += QStringLiteral("\r\n");
  }
  return out;
}
