// frmkvkUI: the reader window shown while a card is read. It reports the user's wish to stop
// (CloseWindow) and, for a keyboard read, runs the keyboard reader and forwards its reports.
// It decides nothing about the read itself. Drawing is the platform's ReaderView.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/automation_error.h"
#include "base/event_loop.h"
#include "ui/keyboard_reader.h"
#include "ui/reader_view.h"

namespace qz {

class frmkvkUIEvents {
 public:
  virtual void CloseWindow() = 0;
  virtual void KeyboardCherryError(std::int32_t& lngNumber, std::string& strDescription) = 0;
  virtual void KeyboardError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                             std::string& strZusatz) = 0;
  virtual void mError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                      std::string& strZusatz) = 0;

 protected:
  ~frmkvkUIEvents() = default;
};

class frmkvkUI final : private ReaderViewListener, private KeyboardReaderEvents {
 public:
  // Creates the keyboard reader of a keyboard read; raises AutomationError 339 when absent.
  using KeyboardFactory = std::function<std::unique_ptr<KeyboardReader>()>;

  frmkvkUI(EventLoop& loop, std::unique_ptr<ReaderView> view, frmkvkUIEvents& owner,
           KeyboardFactory keyboard_factory);
  ~frmkvkUI();
  frmkvkUI(const frmkvkUI&) = delete;
  frmkvkUI& operator=(const frmkvkUI&) = delete;

  // The title line: the reader the read uses.
  void SetTitle(const std::string& caption);
  // Puts a text into the message line and repaints it at once.
  void Message(const std::string& sText);
  // Whether "Abbruch" can be pressed (not during a keyboard read, which cannot be stopped).
  void SetCancelEnabled(bool enabled);

  // Shows the window modally; returns when it has been hidden or unloaded, the loop running
  // meanwhile. Returns at once when the window is already unloaded.
  void ShowModal();
  void Hide();
  bool Visible() const;
  // Unload from code: raises no CloseWindow; releases the keyboard object. Repeatable.
  void Unload();
  bool Unloaded() const { return unloaded_; }

  // Keyboard-read members.
  void WaitingTime(std::int32_t vData);
  void EnableCherryTimer();
  bool CherryReturnValue() const { return mCherryReturnValue; }
  KeyboardReader* CherryKeyboard() const { return mKeyboard.get(); }

 private:
  // ReaderViewListener
  void CancelClicked() override;                  // "Abbruch": a cancel, once
  void CloseRequested(UnloadMode mode) override;  // a cancel if the user asks; always unloads
  // KeyboardReaderEvents
  void CherryError(std::int32_t& lngNumber, std::string& strDescription) override;
  void Error(AutomationError& mErr, std::string& strModul, std::string& strProc,
             std::string& strZusatz) override;

  void CherryTimer_Timer();
  void ReadCherry();

  EventLoop& loop_;
  std::unique_ptr<ReaderView> view_;
  frmkvkUIEvents& owner_;
  KeyboardFactory keyboard_factory_;
  bool cancel_enabled_ = true;
  bool unloaded_ = false;
  EventLoop::TimerId cherry_timer_ = 0;  // 0 while no keyboard read waits to start

  std::unique_ptr<KeyboardReader> mKeyboard;
  bool mCherryReturnValue = false;
  std::int32_t mWaitingTime = 0;
};

}  // namespace qz
