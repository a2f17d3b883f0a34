#include "kvkread_output.h"

#include <nlohmann/json.hpp>

#include "app/enums.h"

namespace qz::kvkread {
namespace {

// Keys in the order they are written, as people read them.
using Json = nlohmann::ordered_json;

std::string Dump(const Json& j) {
  // Field values are UTF-8 already; a stray byte is shown as U+FFFD rather than failing.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string ResultName(std::int32_t result) {
  const char* name = ReturnValueName(result);
  return name != nullptr && *name != '\0' ? name : std::to_string(result);
}

}  // namespace

std::string ResultJson(std::int32_t result, const std::shared_ptr<clsKVKData>& card) {
  Json j;
  j["result"] = ResultName(result);
  j["code"] = result;
  if (card) {
    Json fields = Json::object();
    for (std::size_t i = 0; i < kKVKFieldCount; ++i)
      fields[std::string(kKVKFieldNames[i])] = card->Get(static_cast<KVKField>(i));
    j["card"] = std::move(fields);
  } else {
    j["card"] = nullptr;
  }
  return Dump(j);
}

std::string ResultText(std::int32_t result, const std::shared_ptr<clsKVKData>& card) {
  std::string out = "Result: " + ResultName(result) + " (" + std::to_string(result) + ")\n";
  if (!card) return out + "No card data.\n";
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    const std::string_view name = kKVKFieldNames[i];
    out += "  ";
    out += name;
    out += std::string(name.size() < 20 ? 20 - name.size() : 1, ' ');
    out += card->Get(static_cast<KVKField>(i));
    out += '\n';
  }
  return out;
}

std::string ErrorJson(const AutomationError& error) {
  Json e;
  e["number"] = error.Number();
  e["source"] = error.Source();
  e["description"] = error.Description();
  Json j;
  j["error"] = std::move(e);
  return Dump(j);
}

std::string ErrorText(const AutomationError& error) {
  return "Error " + std::to_string(error.Number()) + " (" + error.Source() +
         "): " + error.Description() + "\n";
}

std::string PortJson(std::int16_t port, const std::string& device) {
  Json j;
  j["port"] = port;
  if (port > 0) j["device"] = device;
  return Dump(j);
}

std::string PortText(std::int16_t port, const std::string& device) {
  if (port > 0)
    return "Card terminal found on port " + std::to_string(port) + " (" + device + ")\n";
  if (port == 0) return "A read is in progress; no port searched.\n";
  return "No card terminal found.\n";
}

}  // namespace qz::kvkread
