// The reader window on a console: the title and each message on standard error, or one status
// line redrawn in place when standard error is a terminal. Ctrl-C while it is shown is the
// user closing the window.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "base/event_loop_posix.h"
#include "ui/reader_view.h"

namespace qz {

class ConsoleReaderView : public ReaderView {
 public:
  // `out` is where the window is drawn (standard error by default).
  explicit ConsoleReaderView(PosixEventLoop& loop, std::FILE* out = stderr);
  ~ConsoleReaderView() override;

  void SetListener(ReaderViewListener* listener) override { listener_ = listener; }
  void SetTitle(const std::string& utf8) override;
  void SetMessage(const std::string& utf8) override;
  void SetCancelEnabled(bool enabled) override { cancel_enabled_ = enabled; }
  void Show(bool modal) override;
  void Hide() override;
  bool Visible() const override { return visible_; }
  void Destroy() override;

 private:
  void Draw(const std::string& text);
  void OnInterrupt();

  PosixEventLoop& loop_;
  std::FILE* out_;
  bool tty_;
  ReaderViewListener* listener_ = nullptr;
  std::string title_;
  std::string message_;
  bool cancel_enabled_ = true;
  bool visible_ = false;
  bool destroyed_ = false;
  PosixEventLoop::WatchId sigint_ = 0;
};

}  // namespace qz
