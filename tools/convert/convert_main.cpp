// qk4820-convert: converts an archive file into another kind, for scripts and
// for batch conversion of old archives.
//
//   qk4820-convert [--lossy] IN OUT
//
// IN is opened exactly as the archive tab's "打开Excel" opens a chosen file
// (same code, same choice of reader by the name), and the archive it gives is
// saved to OUT exactly as "保存至Excel" saves it (.txt, .csv, anything else a
// spreadsheet, by OUT's name). No window is shown and no display is needed;
// the messages the operations would show go to standard error.
#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <vector>

#include "data/RecordTable.h"
#include "data/UDataCenter.h"
#include "forms/UDataFiles.h"
#include "platform/DesktopServices.h"
#include "platform/MessageService.h"
#include "platform/StringGrid.h"

namespace {

const char kUsage[] =
    "用法：qk4820-convert [--lossy] 输入文件 输出文件\n"
    "usage: qk4820-convert [--lossy] IN OUT\n"
    "\n"
    "把测试数据文件转换成另一种格式：输入文件按“打开Excel”的方式读入测试数据归档，\n"
    "再按“保存至Excel”的方式按输出文件的扩展名保存（.txt 文本文件，.csv CSV文件，\n"
    "其它为电子表格）。不显示窗口，也不需要图形界面；提示信息写到标准错误输出。\n"
    "Opens IN as the archive tab's open button does and saves the archive to OUT as\n"
    "its save button does, chosen by OUT's name (.txt, .csv, else a spreadsheet).\n"
    "文本文件只能保存 GBK 字符：其它字符会被列出并拒绝转换，加 --lossy 则写为“?”。\n"
    "A text file keeps GBK characters only: others are named and refused; --lossy writes them as '?'.\n"
    "\n"
    "退出码 / exit status: 0 成功 success, 1 转换失败 the conversion failed,\n"
    "2 参数错误 wrong arguments.\n";

void Print(FILE* to, const QString& text) {
  const QByteArray b = text.toLocal8Bit();
  std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), to);
}

// Every box an operation would show becomes a line on standard error; a
// warning or an error means the conversion failed. A question is answered No.
class TStderrMessages : public IMessageService {
 public:
  TMsgResult Show(QWidget*, const TMsgRequest& r) override {
    QString text = r.text;
    text.replace(QStringLiteral("\n\n"), QStringLiteral(" "));
    if (!r.detail.isEmpty()) text += QStringLiteral(" ") + r.detail;
    Print(stderr, QStringLiteral("qk4820-convert: %1\n").arg(text));
    // A question (the characters a text file cannot keep) is answered Yes
    // only when --lossy says so.
    if (r.buttons == TMsgButtons::YesNo) {
      if (Lossy) return TMsgResult::Yes;
      Failed = true;
      return TMsgResult::No;
    }
    if (r.icon == TMsgIcon::Warning || r.icon == TMsgIcon::Error) Failed = true;
    return TMsgResult::Ok;
  }
  bool Failed = false;
  bool Lossy = false;
};

// No dialog is ever asked for; no folder is opened.
class TNoDesktop : public IDesktopServices {
 public:
  QString GetSaveFileName(QWidget*, const TFileDialogRequest&) override { return {}; }
  QString GetOpenFileName(QWidget*, const TFileDialogRequest&) override { return {}; }
  void OpenFolder(const QString&) override {}
};

// Qt's own notes (a missing runtime folder and the like) are not the
// conversion's business; only its failures are reported.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) Print(stderr, QStringLiteral("qk4820-convert: %1\n").arg(text));
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  std::vector<const char*> files;
  bool lossy = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--lossy") == 0) {
      lossy = true;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != 2) {
    std::fputs("qk4820-convert: 需要两个参数：输入文件和输出文件（--help 查看用法）\n", stderr);
    return 2;
  }
  // Windows are never shown: the tables live in memory only.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietQt);
  QApplication app(argc, argv);
  const QString in = QString::fromLocal8Bit(files[0]);
  const QString out = QString::fromLocal8Bit(files[1]);

  TStderrMessages messages;
  messages.Lossy = lossy;
  SetMessageService(&messages);
  TNoDesktop desktop;
  SetDesktopServices(&desktop);

  TStringGrid archive(Record::kColumns, 2);
  const QStringList& headers = Record::Captions();
  for (int c = 0; c < headers.size(); ++c) archive.SetCells(c, 0, headers[c]);
  std::int32_t count = 0;

  Guarded([&] { DataFiles::OpenFile(nullptr, in, &archive, count); });
  if (!messages.Failed && count <= 0) {
    // As the save button refuses an empty archive.
    messages.Show(nullptr, TMsgRequest{kMsgCaption, DataFiles::kNoDataText, TMsgIcon::Warning, TMsgButtons::Ok, QString()});
  }
  if (!messages.Failed) {
    Guarded([&] { DataFiles::SaveFileAs(nullptr, out, &archive, count); });
  }
  SetMessageService(nullptr);
  SetDesktopServices(nullptr);
  return messages.Failed ? 1 : 0;
}
