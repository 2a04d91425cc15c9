#include "platform/Fonts.h"

#include <QFontDatabase>
#include <QHash>

namespace {

QStringList Installed(const QStringList& candidates) {
  QStringList out;
  for (const QString& f : candidates) {
    if (QFontDatabase::hasFamily(f)) out << f;
  }
  return out;
}

QStringList ChineseFallbacks() {
  return Installed({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                    QStringLiteral("Noto Serif CJK SC")});
}

}  // namespace

QStringList FontFamilies(const QString& family) {
  static QHash<QString, QStringList> cache;
  const auto hit = cache.constFind(family);
  if (hit != cache.constEnd()) return *hit;

  QStringList out;
  const QString key = family.trimmed().toLower();
  if (key == QLatin1String("arial")) {
    const QStringList latin =
        Installed({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                   QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    // One Latin face is enough; the first is the nearest in width.
    if (!latin.isEmpty()) out << latin.first();
  } else if (key == QLatin1String("ms sans serif")) {
    const QStringList latin =
        Installed({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    if (!latin.isEmpty()) out << latin.first();
  } else if (family == QStringLiteral("宋体") || key == QLatin1String("simsun")) {
    out << Installed({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun")});
  } else if (!family.isEmpty()) {
    out << family;
  }
  for (const QString& f : ChineseFallbacks()) {
    if (!out.contains(f)) out << f;
  }
  if (out.isEmpty()) out << family;
  cache.insert(family, out);
  return out;
}

QFont PixelFont(const QString& family, int pixelSize) {
  const QStringList families = FontFamilies(family);
  QFont f(families.first());
  f.setFamilies(families);
  f.setPixelSize(pixelSize);
  return f;
}

QFont PointFont(const QString& family, double pointSize, bool bold) {
  const QStringList families = FontFamilies(family);
  QFont f(families.first());
  f.setFamilies(families);
  f.setPointSizeF(pointSize);
  f.setBold(bold);
  return f;
}
