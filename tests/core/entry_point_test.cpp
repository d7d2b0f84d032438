#include "support/test_support.h"

#include <gtest/gtest.h>

// Arguments that no option takes start the desktop program, which without a display says that it
// needs one and ends, printing nothing on standard output.
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
        // Without a display the normal start says so and ends: that line marks the fall-through.
        auto result = TestSupport::runBrivlon(arguments, 30, {{"DISPLAY", ""}});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find("sessão gráfica"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}
