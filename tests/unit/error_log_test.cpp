// The error log line: eight TAB-separated fields, the platform adding CR LF.
#include <gtest/gtest.h>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

TEST_F(ApplicationTest, LogLineHasEightTabSeparatedFields) {
  platform.date = "2026-12-06";
  platform.time = "3:15:02 AM";
  peer.LogError(AutomationError(8010, "qzCardReader.Serial", "Port not available"), "GetIt",
                "Module: frmUI");
  peer.LogError(AutomationError(-42, "", ""), "ReadCard", "");
  ASSERT_EQ(platform.log_lines.size(), 2u);
  EXPECT_EQ(platform.log_lines[0],
            "2026-12-06\t3:15:02 AM\tModule : ClsApplication\tMethod : GetIt"
            "\tComment : Module: frmUI\tErrNo : 8010\tErrDesc. : Port not available"
            "\tErrSource : qzCardReader.Serial\r\n");
  // Empty texts leave the labels alone in their fields.
  EXPECT_EQ(platform.log_lines[1],
            "2026-12-06\t3:15:02 AM\tModule : ClsApplication\tMethod : ReadCard\tComment : "
            "\tErrNo : -42\tErrDesc. : \tErrSource : \r\n");
}

TEST_F(ApplicationTest, LogFailureIsRaisedToTheCaller) {
  platform.log_fails = true;
  try {
    peer.LogError(AutomationError(1, "s", "d"), "m", "c");
    ADD_FAILURE() << "nothing raised";
  } catch (const AutomationError& err) {
    EXPECT_EQ(err.Number(), 75);
  }
}

}  // namespace
}  // namespace qz::testing
