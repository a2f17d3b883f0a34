// ctsim: a simulated card terminal on a pseudo-terminal (or a serial device), for tests and
// demonstrations without hardware. The first line on standard output is the port to open.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "card_images.h"
#include "ctsim_server_posix.h"
#include "scenario.h"

namespace {

using qz::ctsim::ScenarioKind;

std::optional<qz::t1::Bytes> CardFor(const qz::ctsim::Scenario& scenario,
                                     const std::string& card_file) {
  if (!card_file.empty()) return qz::ctsim::LoadCardFile(card_file);
  return qz::ctsim::DefaultCard(scenario.kind == ScenarioKind::kFixed);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated KVK card terminal speaking T=1 at 9600 baud 8E1.\n"
      "Without --device it opens a pseudo-terminal and prints the path of its slave side as the\n"
      "first line of standard output; open that path as the terminal's serial port.\n"
      "Serves until SIGTERM or SIGINT.",
      "ctsim"};
  std::string scenario_name = "tagged";
  std::string card_file;
  std::string device;
  std::string pty_link;
  bool pace = false;
  int answer_delay = 0;
  bool list = false;
  std::string fault_text;
  app.add_option("--scenario", scenario_name, "behaviour to play (see --list)")
      ->capture_default_str();
  app.add_option("--card", card_file,
                 "card file returned by READ BINARY (raw bytes); without it a built-in card");
  app.add_option(
      "--device", device,
      "serve on this serial device instead of a pseudo-terminal (its path is then the first line)");
  app.add_option("--pty-link", pty_link, "also make this path a symbolic link to the slave");
  app.add_flag("--pace", pace, "send at the line rate of 9600 baud 8E1 (1.146 ms a byte)");
  app.add_option("--answer-delay", answer_delay, "milliseconds before each answer")
      ->check(CLI::Range(0, 600000));
  app.add_option("--fault", fault_text,
                 "inject a fault into the dialogue, KIND:ARG (see --list); a line \"ctsim: fault "
                 "KIND:ARG done\" goes to standard error once it has happened");
  app.add_flag("--list", list, "list the scenarios and faults and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }

  if (list) {
    for (const auto& s : qz::ctsim::ListScenarios())
      std::cout << s.name << std::string(s.name.size() < 16 ? 16 - s.name.size() : 1, ' ')
                << s.description << "\n";
    std::cout << "\nfaults (--fault KIND:ARG; steps: 0 RESYNCH, 1 RESET CT, 2 REQUEST ICC, 3 "
                 "SELECT FILE, 4 READ BINARY, 5 EJECT ICC):\n";
    for (const auto& f : qz::ctsim::ListFaults())
      std::cout << f.name << std::string(f.name.size() < 16 ? 16 - f.name.size() : 1, ' ')
                << f.description << "\n";
    return 0;
  }
  std::optional<qz::ctsim::Fault> fault = qz::ctsim::Fault{};
  if (!fault_text.empty()) fault = qz::ctsim::ParseFault(fault_text);
  if (!fault) {
    std::cerr << "ctsim: bad fault \"" << fault_text << "\" (see --list)\n";
    return 2;
  }
  const auto scenario = qz::ctsim::ParseScenario(scenario_name);
  if (!scenario) {
    std::cerr << "ctsim: unknown scenario \"" << scenario_name << "\" (see --list)\n";
    return 2;
  }
  auto card = CardFor(*scenario, card_file);
  if (!card) {
    std::cerr << "ctsim: cannot read the card file " << card_file << "\n";
    return 2;
  }

  try {
    qz::PosixEventLoop loop;
    qz::ctsim::ServerOptions options;
    options.terminal = {*scenario, std::move(*card), std::chrono::milliseconds{answer_delay},
                        *fault};
    options.pace = pace;
    qz::ctsim::Server server(loop, options);
    std::string path;
    if (device.empty()) {
      path = server.OpenPty();
    } else {
      server.OpenDevice(device);
      path = device;
    }
    // A stalled line: output stopped on the slave side holds back every peer's writes there.
    int stall_fd = -1;
    if (fault->kind == qz::ctsim::FaultKind::kStallAfter && device.empty())
      stall_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    server.SetOnNote([stall_fd](const std::string& note) {
      if (stall_fd >= 0) tcflow(stall_fd, TCOOFF);
      std::cerr << "ctsim: " << note << std::endl;
    });
    if (!pty_link.empty()) {
      unlink(pty_link.c_str());
      if (symlink(path.c_str(), pty_link.c_str()) != 0) {
        std::perror(("ctsim: symlink " + pty_link).c_str());
        return 2;
      }
    }
    std::cout << path << std::endl;

    bool stop = false;
    loop.WatchSignal(SIGTERM, [&] { stop = true; });
    loop.WatchSignal(SIGINT, [&] { stop = true; });
    loop.RunUntil([&] { return stop; });
    if (!pty_link.empty()) unlink(pty_link.c_str());
  } catch (const std::exception& e) {
    std::cerr << "ctsim: " << e.what() << "\n";
    return 2;
  }
  return 0;
}
