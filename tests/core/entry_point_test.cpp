#include "core/base/app_paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

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

// The front opens the desktop module for every row but the headless ones: one that is missing,
// damaged or not the desktop's at all is reported on standard error with status 1, never a crash.
TEST(EntryPoint, AMissingDamagedOrForeignDesktopModuleEndsWithTheLoadersReason)
{
    TestSupport::TempDir dir;
    // A front on its own: with no helper folder beside it, its modules are looked for beside it.
    const auto front = dir / "brivlon";
    fs::copy_file(BRIVLON_BINARY, front);
    const auto module = dir / "brivlon-desktop.so";
    const auto helpers = AppPaths::helperDir();
    const auto whole = TestSupport::readFile(helpers / "brivlon-desktop.so");
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"No such file", [] { }},
        // A copy that stopped in its code: the loader alone would die of SIGBUS mapping it.
        {"file too short", [&] { TestSupport::writeFile(module, whole.substr(0, 64 * 1024)); }},
        {"file too short", [&] { TestSupport::writeFile(module, whole.substr(0, 100)); }},
        {"brivlon_desktop_main", [&] { fs::copy_file(helpers / "brivlon-sound.so", module); }},
    };
    for (const auto& [reason, make] : cases) {
        SCOPED_TRACE(reason);
        fs::remove(module);
        make();
        const auto result = TestSupport::runProgram(front.string(), {}, 30, {{"DISPLAY", ""}});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}
