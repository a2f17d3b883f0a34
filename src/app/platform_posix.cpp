#include "app/platform_posix.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <locale.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "app/ports_posix.h"
#include "base/automation_error.h"
#include "base/unique_fd_posix.h"
#include "link/serial_port_posix.h"
#include "ui/reader_view_console_posix.h"

namespace qz {
namespace {

// Its address identifies the file this code was loaded from; internal linkage keeps it from
// resolving to an executable's copy.
void Anchor() {}

std::string Formatted(const char* format) {
  // The user's time locale without touching the process's global locale, which belongs to the
  // host program.
  locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0))
    user = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char buf[128] = {};
  const std::size_t n = strftime_l(buf, sizeof buf, format, &local, user);
  if (user != static_cast<locale_t>(0)) freelocale(user);
  return std::string(buf, n);
}

}  // namespace

std::string ErrorLogPath() {
  Dl_info info{};
  std::string file = "qzcardreader";
  if (dladdr(reinterpret_cast<void*>(&Anchor), &info) != 0 && info.dli_fname != nullptr &&
      info.dli_fname[0] != '\0')
    file = info.dli_fname;
  const std::size_t slash = file.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : file.substr(0, slash);
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  // libqzcardreader.so and libqzcardreader.so.1 both give libqzcardreader.
  const std::size_t so = name.find(".so");
  if (so != std::string::npos && so > 0 && (so + 3 == name.size() || name[so + 3] == '.')) {
    name.resize(so);
  } else if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
    name.resize(dot);
  }
  return dir + "/" + name + ".err";
}

std::unique_ptr<SerialPort> PosixPlatform::CreateSerialPort() {
  return std::make_unique<PosixSerialPort>(loop_, ports_);
}

std::unique_ptr<ReaderView> PosixPlatform::CreateReaderView() {
  return std::make_unique<ConsoleReaderView>(loop_);
}

std::unique_ptr<KeyboardReader> PosixPlatform::CreateKeyboardReader() {
  // What Windows reports when the keyboard's COM class is not registered; ReadCard tells the
  // host that no keyboard driver is installed.
  throw AutomationError(kErrComponentNotRegistered, "qzCardReader",
                        "Component not correctly registered");
}

std::string PosixPlatform::ShortDate() {
  return Formatted("%x");
}
std::string PosixPlatform::LongTime() {
  return Formatted("%X");
}

void PosixPlatform::AppendErrorLogLine(const std::string& line) {
  const std::string entry = line + "\r\n";
  // Opened for this entry only; other objects and processes append to the same file.
  UniqueFd fd(open(ErrorLogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  bool ok = fd.Valid();
  for (std::size_t done = 0; ok && done < entry.size();) {
    const ssize_t n = write(fd.Get(), entry.data() + done, entry.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  // close() reports what the file system could not take in.
  if (fd.Reset() != 0) ok = false;
  if (!ok) throw AutomationError(75, "qzCardReader", "Path/File access error");
}

PosixPlatform& PosixPlatform::Default() {
  // One per thread, since the loop and its watches belong to the thread that runs it; kept for
  // the thread's life.
  thread_local PosixPlatform* platform = nullptr;
  if (platform == nullptr) platform = new PosixPlatform();
  return *platform;
}

Platform& Platform::Default() {
  return PosixPlatform::Default();
}

void SetPorts(std::vector<std::string> devices) {
  PosixPlatform::Default().SetPorts(std::move(devices));
}

std::optional<std::string> PortPath(std::int16_t port) {
  return PosixPortPath(port, PosixPlatform::Default().Ports());
}

}  // namespace qz
