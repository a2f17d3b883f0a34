// The reader window frmkvkUI as a Win32 tool window.
#pragma once

#include <memory>

#include "base/event_loop_win.h"
#include "ui/reader_view.h"

namespace qz::win {

std::unique_ptr<ReaderView> MakeWinReaderView(WinEventLoop& loop);

}  // namespace qz::win
