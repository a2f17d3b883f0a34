// What kvkread prints: the result of a read with the card holder's data, a raised error, or the
// port found, as a readable table or as one JSON object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/automation_error.h"
#include "kvk/kvk_data.h"

namespace qz::kvkread {

// {"result": "RV_...", "code": n, "card": {17 fields} | null}
std::string ResultJson(std::int32_t result, const std::shared_ptr<clsKVKData>& card);
std::string ResultText(std::int32_t result, const std::shared_ptr<clsKVKData>& card);

// {"error": {"number": n, "source": "...", "description": "..."}}
std::string ErrorJson(const AutomationError& error);
std::string ErrorText(const AutomationError& error);

// {"port": n, "device": "/dev/..."}; the device only when a terminal was found.
std::string PortJson(std::int16_t port, const std::string& device);
std::string PortText(std::int16_t port, const std::string& device);

}  // namespace qz::kvkread
