#include "ui/reader_view_win.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/module_win.h"
#include "base/raii_win.h"
#include "base/text_win.h"
#include "ui/resource_win.h"

namespace qz::win {
namespace {

constexpr wchar_t kClassName[] = L"qzCardReaderKVKUI";
constexpr int kCancelId = 1;  // Command1

// Layout in twips, as the window was designed: left, top, width, height.
struct TwipRect {
  int left, top, width, height;
};
constexpr int kClientWidth = 4395, kClientHeight = 1455;
constexpr TwipRect kPicture1 = {-30, -30, 4455, 465};
constexpr TwipRect kImage1 = {120, 30, 360, 360};
constexpr TwipRect kLblTitle = {705, 60, 2985, 270};
constexpr TwipRect kLblMsg = {30, 570, 4320, 285};
constexpr TwipRect kCommand1 = {1710, 1050, 1035, 345};

// A font handle that is deleted with its owner.
class Font {
 public:
  Font() = default;
  ~Font() {
    if (f_ != nullptr) DeleteObject(f_);
  }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  // Tahoma at a size in hundredths of a point, so that 8.25 and 11.25 stay exact.
  void Create(int hundredths_pt, bool bold, int dpi) {
    LOGFONTW lf = {};
    lf.lfHeight = -MulDiv(hundredths_pt, dpi, 7200);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcscpy_s(lf.lfFaceName, L"Tahoma");
    f_ = CreateFontIndirectW(&lf);
  }
  HFONT Get() const { return f_; }

 private:
  HFONT f_ = nullptr;
};

class WinReaderView final : public ReaderView {
 public:
  // The window itself is made when first shown: every object and every read makes a new view,
  // and a host that creates many objects should not pay for windows it never sees.
  explicit WinReaderView(WinEventLoop& loop) : loop_(loop) {}
  ~WinReaderView() override { Destroy(); }
  WinReaderView(const WinReaderView&) = delete;
  WinReaderView& operator=(const WinReaderView&) = delete;

  void SetListener(ReaderViewListener* listener) override { listener_ = listener; }
  void SetTitle(const std::string& utf8) override {
    title_text_ = Widen(utf8);
    if (title_ != nullptr) ApplyTitle();
  }
  void SetMessage(const std::string& utf8) override {
    message_text_ = Widen(utf8);
    if (message_ == nullptr) return;
    SetWindowTextW(message_, message_text_.c_str());
    // On the screen now, even if the caller keeps the thread busy afterwards.
    RedrawWindow(message_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
  void SetCancelEnabled(bool enabled) override {
    cancel_enabled_ = enabled;
    if (cancel_ != nullptr) EnableWindow(cancel_, enabled ? TRUE : FALSE);
  }
  void Show(bool modal) override {
    if (destroyed_) return;
    if (hwnd_ == nullptr) Create();
    if (modal && disabled_.empty()) DisableOtherWindows();
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);  // passed on to "Abbruch" when it is enabled (WM_SETFOCUS)
    UpdateWindow(hwnd_);
  }
  void Hide() override {
    if (hwnd_ == nullptr) return;
    // Re-enable the others first, so that Windows activates one of them and not some other
    // program when this window disappears.
    EnableOtherWindows();
    ShowWindow(hwnd_, SW_HIDE);
  }
  bool Visible() const override { return hwnd_ != nullptr && IsWindowVisible(hwnd_); }
  void Destroy() override {
    listener_ = nullptr;
    destroyed_ = true;
    if (hwnd_ == nullptr) return;
    EnableOtherWindows();
    HWND h = hwnd_;
    hwnd_ = title_ = message_ = cancel_ = nullptr;
    SetWindowLongPtrW(h, GWLP_USERDATA, 0);
    DestroyWindow(h);
  }

 private:
  static void RegisterClassOnce() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &WndProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    wc.hIcon = static_cast<HICON>(
        LoadImageW(ThisModule(), MAKEINTRESOURCEW(QZ_IDI_CARD), IMAGE_ICON, 32, 32, LR_SHARED));
    wc.hIconSm = static_cast<HICON>(
        LoadImageW(ThisModule(), MAKEINTRESOURCEW(QZ_IDI_CARD), IMAGE_ICON, 16, 16, LR_SHARED));
    RegisterClassExW(&wc);  // already registered by an earlier window: fine
  }

  int Px(int twips) const { return MulDiv(twips, dpi_, 1440); }
  RECT Rect(const TwipRect& r) const {
    return {Px(r.left), Px(r.top), Px(r.left) + Px(r.width), Px(r.top) + Px(r.height)};
  }

  HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, const TwipRect& r, int id,
             HFONT font) {
    HWND h =
        CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, Px(r.left), Px(r.top),
                        Px(r.width), Px(r.height), hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return h;
  }

  void Create() {
    RegisterClassOnce();
    dpi_ = GetDeviceCaps(WindowDc(nullptr).Get(), LOGPIXELSY);
    if (dpi_ <= 0) dpi_ = 96;
    font_default_.Create(825, false, dpi_);
    font_title_.Create(1125, false, dpi_);
    font_message_.Create(1200, true, dpi_);

    // A fixed tool window: no minimise or maximise box, no taskbar entry.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD ex_style = WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE;
    RECT frame = {0, 0, Px(kClientWidth), Px(kClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    hwnd_ = CreateWindowExW(ex_style, kClassName, L"KVK Kartenleseger\u00e4t...", style, x, y, w, h,
                            nullptr, nullptr, ThisModule(), nullptr);
    if (hwnd_ == nullptr) throw std::runtime_error("cannot create the reader window");
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_default_.Get()), FALSE);

    icon_ = static_cast<HICON>(
        LoadImageW(ThisModule(), MAKEINTRESOURCEW(QZ_IDI_CARD), IMAGE_ICON, 32, 32, LR_SHARED));
    title_ = Child(L"STATIC", title_text_.c_str(), SS_LEFTNOWORDWRAP | SS_NOPREFIX, kLblTitle, 0,
                   font_title_.Get());
    ApplyTitle();
    message_ = Child(L"STATIC", message_text_.c_str(), SS_CENTER | SS_NOPREFIX, kLblMsg, 0,
                     font_message_.Get());
    cancel_ = Child(L"BUTTON", L"Abbruch", BS_PUSHBUTTON | WS_TABSTOP, kCommand1, kCancelId,
                    font_default_.Get());
    SetWindowLongPtrW(cancel_, GWLP_USERDATA, GetWindowLongPtrW(cancel_, GWLP_WNDPROC));
    SetWindowLongPtrW(cancel_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CancelProc));
    EnableWindow(cancel_, cancel_enabled_ ? TRUE : FALSE);
    // The button is the keyboard's way out, so its focus rectangle shows from the start, not
    // only once the user has pressed a key.
    SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  }

  // "Abbruch" with the focus: a button presses itself on Space; Enter and Escape press it too,
  // through the same click. Disabled, it has no focus and gets no keys, so a keyboard read
  // ignores them as it ignores clicks.
  static LRESULT CALLBACK CancelProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_KEYDOWN && (wp == VK_RETURN || wp == VK_ESCAPE)) {
      SendMessageW(GetParent(h), WM_COMMAND, MAKEWPARAM(kCancelId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(h));
      return 0;
    }
    const auto button = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_USERDATA));
    return CallWindowProcW(button, h, msg, wp, lp);
  }

  // The title keeps its designed place; it grows to the right when a font wider than Tahoma
  // (a substitute) would cut off the port number, which the user needs to see.
  void ApplyTitle() {
    SetWindowTextW(title_, title_text_.c_str());
    const WindowDc dc(title_);
    HGDIOBJ old = SelectObject(dc.Get(), font_title_.Get());
    SIZE extent = {};
    GetTextExtentPoint32W(dc.Get(), title_text_.c_str(), static_cast<int>(title_text_.size()),
                          &extent);
    SelectObject(dc.Get(), old);
    int width = Px(kLblTitle.width);
    const int room = Px(kClientWidth) - Px(kLblTitle.left);
    if (extent.cx + 2 > width) width = std::min(static_cast<int>(extent.cx) + 2, room);
    SetWindowPos(title_, nullptr, 0, 0, width, Px(kLblTitle.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }

  // Modal with no owner: every other enabled window of this thread takes no input meanwhile.
  void DisableOtherWindows() {
    EnumThreadWindows(GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(this));
    for (HWND h : disabled_) EnableWindow(h, FALSE);
  }
  static BOOL CALLBACK CollectEnabled(HWND h, LPARAM lp) {
    auto* self = reinterpret_cast<WinReaderView*>(lp);
    if (h != self->hwnd_ && IsWindowVisible(h) && IsWindowEnabled(h)) self->disabled_.push_back(h);
    return TRUE;
  }
  void EnableOtherWindows() {
    for (HWND h : disabled_) {
      if (IsWindow(h)) EnableWindow(h, TRUE);
    }
    disabled_.clear();
  }

  void Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // Picture1: the strip across the top in the window-background colour.
    RECT strip = Rect(kPicture1);
    FillRect(dc, &strip, GetSysColorBrush(COLOR_WINDOW));
    DrawEdge(dc, &strip, EDGE_SUNKEN, BF_BOTTOM);
    // Image1: the icon, drawn into its frame.
    if (icon_ != nullptr) {
      const RECT img = Rect(kImage1);
      DrawIconEx(dc, img.left, img.top, icon_, img.right - img.left, img.bottom - img.top, 0,
                 nullptr, DI_NORMAL);
    }
    EndPaint(hwnd_, &ps);
  }

  // A listener call from the window procedure; the listener may destroy this view.
  void Report(void (*call)(ReaderViewListener&, UnloadMode), UnloadMode mode) {
    ReaderViewListener* listener = listener_;
    if (listener == nullptr) return;
    loop_.Guarded([&] { call(*listener, mode); });
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<WinReaderView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
      case WM_PAINT:
        self->Paint();
        return 0;
      case WM_SETFOCUS:
        // Activation gives the focus to the window; the button is what the keys are for.
        if (IsWindowEnabled(self->cancel_)) SetFocus(self->cancel_);
        return 0;
      case WM_CTLCOLORSTATIC: {
        // The title sits on the white strip, the message on the window's face.
        HDC dc = reinterpret_cast<HDC>(wp);
        SetBkMode(dc, TRANSPARENT);
        const bool on_strip = reinterpret_cast<HWND>(lp) == self->title_;
        SetTextColor(dc, GetSysColor(on_strip ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(on_strip ? COLOR_WINDOW : COLOR_BTNFACE));
      }
      case WM_COMMAND:
        if (LOWORD(wp) == kCancelId && HIWORD(wp) == BN_CLICKED) {
          self->Report([](ReaderViewListener& l, UnloadMode) { l.CancelClicked(); },
                       UnloadMode::kUserClose);
        }
        return 0;
      case WM_CLOSE:
        // The owner decides; it unloads the window through Destroy().
        self->Report([](ReaderViewListener& l, UnloadMode m) { l.CloseRequested(m); },
                     UnloadMode::kUserClose);
        return 0;
      case WM_QUERYENDSESSION:
        self->Report([](ReaderViewListener& l, UnloadMode m) { l.CloseRequested(m); },
                     UnloadMode::kSessionEnd);
        return TRUE;
      default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }

  WinEventLoop& loop_;
  ReaderViewListener* listener_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND title_ = nullptr;
  HWND message_ = nullptr;
  HWND cancel_ = nullptr;
  HICON icon_ = nullptr;  // a shared resource icon: not destroyed
  std::wstring title_text_ = L"KVK Kartenleseger\u00e4t an Port 1";
  std::wstring message_text_ = L"Bitte Karte einf\u00fchren";
  bool cancel_enabled_ = true;
  bool destroyed_ = false;
  int dpi_ = 96;
  Font font_default_;
  Font font_title_;
  Font font_message_;
  std::vector<HWND> disabled_;
};

}  // namespace

std::unique_ptr<ReaderView> MakeWinReaderView(WinEventLoop& loop) {
  return std::make_unique<WinReaderView>(loop);
}

}  // namespace qz::win
