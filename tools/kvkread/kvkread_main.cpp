// kvkread: reads a German health-insurance card (KVK) from a card terminal on a serial port, a
// keyboard card reader, or the built-in simulated terminal, and prints the card holder's data.
#include <errno.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/cls_application.h"
#include "app/enums.h"
#include "app/platform_posix.h"
#include "app/ports_posix.h"
#include "card_images.h"
#include "ctsim_server_posix.h"
#include "kvkread_output.h"
#include "scenario.h"

namespace {

constexpr int kExitRead = 0;
constexpr int kExitOtherResult = 1;
constexpr int kExitError = 2;

constexpr char kDescription[] =
    "Reads a German health-insurance card (KVK) and prints the card holder's data.\n"
    "\n"
    "The reader is a card terminal on a serial port (--device or --port), a keyboard with a\n"
    "card reader (--keyboard), or the built-in simulated terminal (--simulate). Progress texts\n"
    "of the reader window go to standard error; Ctrl-C cancels a read.\n"
    "\n"
    "Port numbers: when QZCARDREADER_PORTS holds a colon-separated list of device paths, its\n"
    "first entry is COM1, the second COM2, ...; otherwise COMn is /dev/ttyS{n-1} for the\n"
    "built-in ports, followed by the USB serial devices (/dev/ttyUSB*, /dev/ttyACM*). Without\n"
    "--device, --port, --keyboard or --simulate the port number is 0, which a read refuses\n"
    "(\"No CommPort is set\").";

constexpr char kFooter[] =
    "Output:\n"
    "  By default a table of the result and the seventeen card fields. With --json one object:\n"
    "    {\"result\": \"RV_ReadSuccessful\", \"code\": 0, \"card\": {\"KrankenKassenName\": ...}}\n"
    "  (\"card\": null when there is no record), or for a raised error\n"
    "    {\"error\": {\"number\": -2147221503, \"source\": \"ClsApplication\", \"description\": "
    "\"No CommPort is set\"}}\n"
    "  and for --find-port {\"port\": N, \"device\": \"/dev/...\"} (N = -1 and no device when no\n"
    "  terminal answered).\n"
    "\n"
    "Exit status:\n"
    "  0  the card was read (RV_ReadSuccessful), or --find-port found a terminal\n"
    "  1  any other result (no card, wrong card, cancelled, no reader responding, ...)\n"
    "  2  an error was raised, or the command line was wrong\n"
    "\n"
    "Examples:\n"
    "  kvkread --simulate                     read from the simulated terminal\n"
    "  kvkread --simulate=no-card --json      the simulated terminal without a card, as JSON\n"
    "  kvkread --device /dev/ttyUSB0          read from the terminal on that device\n"
    "  kvkread --port 2 --waiting-time 10     COM2 (/dev/ttyS1), ask for the card 10 times\n"
    "  QZCARDREADER_PORTS=/dev/ttyUSB0:/dev/ttyUSB1 kvkread --find-port\n"
    "                                         which of the two has a terminal\n"
    "  kvkread --keyboard                     read from the keyboard card reader\n";

// When the user may not open the terminal's device, says which group grants it (dialout on
// Debian), since the port error itself only says "Permission denied".
void HintAtDevicePermission(std::int16_t port) {
  const std::optional<std::string> path = qz::PortPath(port);
  if (!path || access(path->c_str(), R_OK | W_OK) == 0 || errno != EACCES) return;
  std::string owner = "dialout";
  struct stat st {};
  if (stat(path->c_str(), &st) == 0)
    if (const group* g = getgrgid(st.st_gid); g != nullptr && g->gr_name != nullptr)
      owner = g->gr_name;
  std::cerr << "kvkread: no permission to open " << *path << "; it belongs to the group \"" << owner
            << "\". Add the user to that group (sudo usermod -aG " << owner
            << " \"$USER\") and log in again.\n";
}

struct Options {
  std::string device;
  std::optional<int> port;
  bool keyboard = false;
  std::optional<int> waiting_time;
  bool find_port = false;
  std::optional<std::string> simulate;
  bool json = false;
};

int Run(const Options& o) {
  // The simulated terminal runs on this thread's loop, on a pseudo-terminal of its own, so a
  // read against it is the same read as against hardware.
  std::unique_ptr<qz::ctsim::Server> simulator;
  std::int16_t port = static_cast<std::int16_t>(o.port.value_or(0));
  if (o.simulate) {
    const std::string name = o.simulate->empty() ? "tagged" : *o.simulate;
    const auto scenario = qz::ctsim::ParseScenario(name);
    if (!scenario) {
      std::cerr << "kvkread: unknown scenario \"" << name << "\"; known: ";
      for (const auto& s : qz::ctsim::ListScenarios()) std::cerr << s.name << " ";
      std::cerr << "\n";
      return kExitError;
    }
    qz::ctsim::ServerOptions options;
    options.terminal.scenario = *scenario;
    options.terminal.card =
        qz::ctsim::DefaultCard(scenario->kind == qz::ctsim::ScenarioKind::kFixed);
    simulator =
        std::make_unique<qz::ctsim::Server>(qz::PosixPlatform::Default().PosixLoop(), options);
    qz::SetPorts({simulator->OpenPty()});
    port = 1;
  } else if (!o.device.empty()) {
    qz::SetPorts({o.device});
    port = 1;
  }

  qz::clsApplication app;
  if (o.waiting_time) app.WaitingTime(static_cast<std::int16_t>(*o.waiting_time));

  if (o.find_port) {
    const std::int16_t found = app.GetCardPort();
    const std::string device = found > 0 ? qz::PortPath(found).value_or("") : "";
    std::cout << (o.json ? qz::kvkread::PortJson(found, device)
                         : qz::kvkread::PortText(found, device));
    return found > 0 ? kExitRead : kExitOtherResult;
  }

  app.CommPort(port);
  try {
    const std::int32_t result = app.ReadCard(o.keyboard ? qz::CRT_Tastatur : qz::CRT_CommPort);
    const auto card = app.KVKData();
    std::cout << (o.json ? qz::kvkread::ResultJson(result, card)
                         : qz::kvkread::ResultText(result, card));
    return result == qz::RV_ReadSuccessful ? kExitRead : kExitOtherResult;
  } catch (const qz::AutomationError& e) {
    if (o.json)
      std::cout << qz::kvkread::ErrorJson(e);
    else
      std::cerr << qz::kvkread::ErrorText(e);
    if (!o.keyboard) HintAtDevicePermission(port);
    return kExitError;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{kDescription, "kvkread"};
  cli.footer(kFooter);
  Options o;
  auto* device = cli.add_option("--device", o.device, "read from the card terminal on this device");
  auto* port = cli.add_option("--port", o.port, "read from the card terminal on COMn")
                   ->check(CLI::Range(-32768, 32767));
  auto* keyboard = cli.add_flag("--keyboard", o.keyboard, "read from the keyboard card reader");
  cli.add_option("--waiting-time", o.waiting_time,
                 "how many times the terminal is asked for a card (WaitingTime, default 5)")
      ->check(CLI::Range(-32768, 32767));
  auto* find =
      cli.add_flag("--find-port", o.find_port,
                   "search the ports for a card terminal (GetCardPort) and print its number");
  // The scenarios as ctsim lists them, so that the two programs never disagree.
  std::string scenarios;
  for (const auto& s : qz::ctsim::ListScenarios())
    scenarios += (scenarios.empty() ? "" : ", ") + s.name;
  auto* simulate = cli.add_option("--simulate", o.simulate,
                                  "read from the built-in simulated terminal; SCENARIO is one of " +
                                      scenarios + " (default tagged)")
                       ->expected(0, 1)
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                       ->type_name("[=SCENARIO]");
  cli.add_flag("--json", o.json, "print one JSON object instead of a table");
  device->excludes(port, keyboard, simulate);
  port->excludes(keyboard, simulate);
  keyboard->excludes(simulate, find);
  find->excludes(port);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = cli.exit(e);
    return rc == 0 ? 0 : kExitError;
  }
  if (simulate->count() > 0 && !o.simulate) o.simulate = std::string();

  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::cerr << "kvkread: " << e.what() << "\n";
    return kExitError;
  }
}
