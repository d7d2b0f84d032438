#include "support/test_support.h"

#include <gtest/gtest.h>

// Arguments that no option takes start the tray application: the process keeps running and
// prints nothing of its own.
TEST(EntryPoint, UntakenArgumentsFallThroughToTheNormalStart)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--Convert", "png", "a.jpg"},
        {"--convert", "png"},
        {"--tool", "notATool", "--", "a.png"},
        {"--render-fan", "sideways", "a", "b"},
        {"--export-chime"},
        {"--whatever"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? std::string("(none)") : arguments.front());
        auto result = TestSupport::runBrivlon(arguments, 1.5, {{"QT_QPA_PLATFORM", "offscreen"}});
        EXPECT_TRUE(result.timedOut) << "exited with " << result.exitCode << ": " << result.err;
        EXPECT_EQ(result.out, "");
    }
}
