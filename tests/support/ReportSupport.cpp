#include "support/ReportSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "forms/UDlgPreview.h"

bool TScriptedPrintDialogs::PageSetup(QWidget*, QPrinter& printer) {
  ++PageSetupCalls;
  if (Layouts.isEmpty()) return false;
  printer.setPageLayout(Layouts.takeFirst());
  return true;
}

bool TScriptedPrintDialogs::PrintSetup(QWidget*, QPrinter& printer) {
  ++PrintSetupCalls;
  const QString name = PdfFiles.isEmpty() ? QString() : PdfFiles.takeFirst();
  if (name.isEmpty()) return false;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(name);
  return true;
}

namespace {

QString Run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000)) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString Unescape(QString s) {
  s.replace(QLatin1String("&lt;"), QLatin1String("<"));
  s.replace(QLatin1String("&gt;"), QLatin1String(">"));
  s.replace(QLatin1String("&quot;"), QLatin1String("\""));
  s.replace(QLatin1String("&apos;"), QLatin1String("'"));
  s.replace(QLatin1String("&amp;"), QLatin1String("&"));
  return s;
}

}  // namespace

QString PdfText(const QString& pdf) {
  return Run(QStringLiteral("pdftotext"),
             {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
}

QStringList PdfPages(const QString& pdf) {
  QStringList pages = PdfText(pdf).split(QChar('\f'));
  // pdftotext ends the last page with a form feed too.
  if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
  return pages;
}

QList<TPdfWord> PdfWords(const QString& pdf) {
  const QString xml = Run(QStringLiteral("pdftotext"),
                          {QStringLiteral("-bbox"), QStringLiteral("-enc"), QStringLiteral("UTF-8"),
                           pdf, QStringLiteral("-")});
  static const QRegularExpression token(
      QStringLiteral("<page |<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" "
                     "yMax=\"([0-9.]+)\">([^<]*)</word>"));
  QList<TPdfWord> words;
  int page = 0;
  for (auto it = token.globalMatch(xml); it.hasNext();) {
    const auto m = it.next();
    if (m.captured(0).startsWith(QLatin1String("<page"))) {
      ++page;
      continue;
    }
    TPdfWord w;
    w.Page = page;
    w.XMin = m.captured(1).toDouble();
    w.YMin = m.captured(2).toDouble();
    w.XMax = m.captured(3).toDouble();
    w.YMax = m.captured(4).toDouble();
    w.Text = Unescape(m.captured(5));
    words << w;
  }
  return words;
}

QString TPdfLine::Text() const {
  QStringList parts;
  for (const auto& w : Words) parts << w.Text;
  return parts.join(QChar(' '));
}

QList<TPdfLine> PdfLines(const QList<TPdfWord>& words) {
  QList<TPdfLine> lines;
  for (const auto& w : words) {
    auto it = std::find_if(lines.begin(), lines.end(), [&](const TPdfLine& l) {
      return l.Page == w.Page && std::abs(l.Y - w.YMin) < 3.0;
    });
    if (it == lines.end()) {
      lines.append(TPdfLine{w.Page, w.YMin, {}});
      it = std::prev(lines.end());
    }
    it->Words << w;
  }
  for (auto& l : lines) {
    std::sort(l.Words.begin(), l.Words.end(),
              [](const TPdfWord& a, const TPdfWord& b) { return a.XMin < b.XMin; });
  }
  std::sort(lines.begin(), lines.end(), [](const TPdfLine& a, const TPdfLine& b) {
    return a.Page != b.Page ? a.Page < b.Page : a.Y < b.Y;
  });
  return lines;
}

QImage PdfPagePng(const QString& pdf, int page, int dpi, const QString& pngPrefix) {
  Run(QStringLiteral("pdftoppm"),
      {QStringLiteral("-png"), QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
       QString::number(page), QStringLiteral("-l"), QString::number(page),
       QStringLiteral("-singlefile"), pdf, pngPrefix});
  return QImage(pngPrefix + QStringLiteral(".png"));
}

TFrmPreview* OpenPreview() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* f = qobject_cast<TFrmPreview*>(w); f && f->isVisible()) return f;
  }
  return nullptr;
}

std::shared_ptr<bool> WhenPreviewOpens(std::function<void(TFrmPreview*)> action) {
  auto ran = std::make_shared<bool>(false);
  QTimer::singleShot(0, qApp, [action, ran] {
    TFrmPreview* window = OpenPreview();
    if (!window) return;
    *ran = true;
    action(window);
    if (TFrmPreview* still = OpenPreview()) still->tbExit->click();
  });
  return ran;
}

void FlushEvents() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
}
