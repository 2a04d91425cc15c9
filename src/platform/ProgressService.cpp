#include "platform/ProgressService.h"

namespace {

class TNoProgress : public IProgressWindow {
 public:
  bool Update(int, int) override { return false; }
  void Close() override {}
};

TProgressFactory& Factory() {
  static TProgressFactory f;
  return f;
}

}  // namespace

std::unique_ptr<IProgressWindow> OpenProgressWindow(QWidget* owner, const QString& tip) {
  if (Factory()) return Factory()(owner, tip);
  return std::make_unique<TNoProgress>();
}

void SetProgressFactory(TProgressFactory factory) { Factory() = std::move(factory); }
