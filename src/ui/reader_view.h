// How a platform draws the reader window: a Win32 tool window, a console status line, or a
// test script. It only displays and reports the user's actions; frmkvkUI decides.
#pragma once

#include <string>

namespace qz {

// Why the window is asked to close. Only a close the user or the system asks for is a cancel.
enum class UnloadMode {
  kUserClose = 0,     // close box or system menu
  kCode = 1,          // unloaded by the program
  kSessionEnd = 2,    // Windows is ending the user's logon
  kTaskManager = 3,   // closed from the Task Manager
  kMdiParent = 4,     // an MDI parent closes
  kOwnerClosing = 5,  // the window that owns it closes
};

class ReaderViewListener {
 public:
  virtual void CancelClicked() = 0;                  // "Abbruch" pressed
  virtual void CloseRequested(UnloadMode mode) = 0;  // close box, Ctrl-C, session end ...

 protected:
  ~ReaderViewListener() = default;
};

class ReaderView {
 public:
  virtual ~ReaderView() = default;

  virtual void SetListener(ReaderViewListener* listener) = 0;
  virtual void SetTitle(const std::string& utf8) = 0;    // the reader in use
  virtual void SetMessage(const std::string& utf8) = 0;  // the progress line, repainted at once
  virtual void SetCancelEnabled(bool enabled) = 0;       // "Abbruch" can be pressed
  // Shows the window; modal: the thread's other windows take no input until it is hidden.
  virtual void Show(bool modal) = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  // Unload: the window is gone for good; no listener call follows.
  virtual void Destroy() = 0;
};

}  // namespace qz
