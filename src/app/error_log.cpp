// LogError: one line per handled error, appended to the log beside the library.
#include <string>

#include "app/cls_application.h"
#include "app/platform.h"

namespace qz {

void clsApplication::LogError(const AutomationError& err, const std::string& method,
                              const std::string& comment) {
  // Date before time, each read when it is formatted.
  std::string line = platform_.ShortDate();
  line += '\t';
  line += platform_.LongTime();
  line += "\tModule : ClsApplication";
  line += "\tMethod : " + method;
  line += "\tComment : " + comment;
  line += "\tErrNo : " + std::to_string(err.Number());
  line += "\tErrDesc. : " + err.Description();
  line += "\tErrSource : " + err.Source();
  // No catch: a log that cannot be written is the error the caller gets instead.
  platform_.AppendErrorLogLine(line);
}

}  // namespace qz
