#include "ui/reader_view_console_posix.h"

#include <signal.h>
#include <unistd.h>

namespace qz {

ConsoleReaderView::ConsoleReaderView(PosixEventLoop& loop, std::FILE* out)
    : loop_(loop), out_(out), tty_(isatty(fileno(out)) == 1) {}

ConsoleReaderView::~ConsoleReaderView() {
  Destroy();
}

void ConsoleReaderView::SetTitle(const std::string& utf8) {
  title_ = utf8;
  if (visible_) Draw(title_);
}

void ConsoleReaderView::SetMessage(const std::string& utf8) {
  message_ = utf8;
  if (visible_) Draw(message_);
}

void ConsoleReaderView::Show(bool /*modal*/) {
  if (destroyed_ || visible_) return;
  visible_ = true;
  // Ctrl-C is this window's close box, and only while it is shown: otherwise it keeps its
  // usual meaning for the program.
  sigint_ = loop_.WatchSignal(SIGINT, [this] { OnInterrupt(); });
  if (tty_) {
    Draw(message_);
  } else {
    Draw(title_);
    if (!message_.empty()) Draw(message_);
  }
}

void ConsoleReaderView::Hide() {
  if (!visible_) return;
  visible_ = false;
  if (sigint_ != 0) loop_.UnwatchSignal(sigint_);
  sigint_ = 0;
  if (tty_) {
    std::fputs("\n", out_);
    std::fflush(out_);
  }
}

void ConsoleReaderView::Destroy() {
  Hide();
  listener_ = nullptr;
  destroyed_ = true;
}

void ConsoleReaderView::Draw(const std::string& text) {
  if (tty_) {
    // One status line: "title: message", redrawn in place.
    std::fputs("\r\033[K", out_);
    std::fputs(title_.c_str(), out_);
    if (!message_.empty()) {
      std::fputs(": ", out_);
      std::fputs(message_.c_str(), out_);
    }
  } else {
    std::fputs(text.c_str(), out_);
    std::fputs("\n", out_);
  }
  std::fflush(out_);
}

void ConsoleReaderView::OnInterrupt() {
  if (!visible_ || listener_ == nullptr) return;
  listener_->CloseRequested(UnloadMode::kUserClose);
}

}  // namespace qz
