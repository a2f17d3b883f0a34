// read_card: reads an insurance card from the card terminal on a serial device and prints the
// record, one "Field: value" line each. Try it without hardware against the simulated terminal:
//
//   ctsim &                 # prints the pseudo-terminal to use, e.g. /dev/pts/7
//   read_card /dev/pts/7
//
// Exit status: 0 read, 1 another result (printed), 2 an error was raised or bad arguments.
#include <qzcardreader/qzcardreader.h>

#include <iostream>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: read_card DEVICE   (for example /dev/ttyUSB0, or the path ctsim prints)\n";
    return 2;
  }
  // The component numbers its ports COM1, COM2, ...; this makes the device COM1.
  qz::SetPorts({argv[1]});
  qz::clsApplication app;
  app.CommPort(1);
  app.WaitingTime(10);  // ask the terminal ten times for a card before giving up
  try {
    const qz::enmReturnValue result = app.ReadCard(qz::CRT_CommPort);
    std::cout << "Result: " << qz::ReturnValueName(result) << " (" << result << ")\n";
    const std::shared_ptr<qz::clsKVKData> card = app.KVKData();  // null after a cancel
    if (card) {
      for (std::size_t i = 0; i < qz::kKVKFieldCount; ++i)
        std::cout << qz::kKVKFieldNames[i] << ": " << card->Get(static_cast<qz::KVKField>(i))
                  << "\n";
    }
    return result == qz::RV_ReadSuccessful ? 0 : 1;
  } catch (const qz::AutomationError& e) {
    std::cerr << "Error " << e.Number() << " (" << e.Source() << "): " << e.Description() << "\n";
    return 2;
  }
}
