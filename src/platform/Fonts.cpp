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

// Faces that write Chinese, best first. On paper and in PDF files a glyph's
// text comes from the face's character map: Noto CJK maps the glyphs of
// 人 一 工 入 口 to the Kangxi radicals as well, so text copied out of a report
// would read "测试⼈员". WenQuanYi Zen Hei and AR PL UMing map every glyph to
// one character, so they come first there; on screen Noto, drawn best at
// small sizes, leads.
QStringList ChineseFallbacks(TFontMedium medium) {
  if (medium == TFontMedium::Print) {
    return Installed({QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC")});
  }
  return Installed({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                    QStringLiteral("Noto Serif CJK SC")});
}

}  // namespace

QStringList FontFamilies(const QString& family, TFontMedium medium) {
  static QHash<QString, QStringList> cache;
  const QString cacheKey = family + (medium == TFontMedium::Print ? QStringLiteral("\x01print") : QString());
  const auto hit = cache.constFind(cacheKey);
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
    // 宋体 is a serif (Song/Ming) face: on paper a Ming face stands in for it.
    if (medium == TFontMedium::Print) out << Installed({QStringLiteral("AR PL UMing CN")});
  } else if (!family.isEmpty()) {
    out << family;
  }
  for (const QString& f : ChineseFallbacks(medium)) {
    if (!out.contains(f)) out << f;
  }
  if (out.isEmpty()) out << family;
  cache.insert(cacheKey, out);
  return out;
}

QFont PixelFont(const QString& family, int pixelSize) {
  const QStringList families = FontFamilies(family);
  QFont f(families.first());
  f.setFamilies(families);
  f.setPixelSize(pixelSize);
  return f;
}

QFont PointFont(const QString& family, double pointSize, bool bold, TFontMedium medium) {
  const QStringList families = FontFamilies(family, medium);
  QFont f(families.first());
  f.setFamilies(families);
  f.setPointSizeF(pointSize);
  f.setBold(bold);
  return f;
}
