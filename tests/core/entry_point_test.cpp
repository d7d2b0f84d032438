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

// A worker whose module is gone fails the job with a sentence the user can act on; the loader's
// own words go to the error log for whoever mends the installation.
TEST(EntryPoint, AWorkerWithoutItsModuleFailsTheJobAndLogsTheReason)
{
    TestSupport::TempDir dir;
    const auto helpers = AppPaths::helperDir();
    const auto ownHelpers = dir / "libexec" / "brivlon";
    fs::create_directories(dir / "bin");
    fs::create_directories(ownHelpers);
    // Copies, not links: each program finds its helpers beside where it really is.
    fs::copy_file(BRIVLON_BINARY, dir / "bin" / "brivlon");
    fs::copy_file(helpers / "brivlon-worker", ownHelpers / "brivlon-worker");
    fs::create_directory_symlink(helpers / "resources", ownHelpers / "resources");
    const std::string pdf = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                            "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
                            "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >> endobj\n"
                            "trailer << /Root 1 0 R >>\n%%EOF\n";
    TestSupport::writeFile(dir / "notas.pdf", pdf);
    const auto result = TestSupport::runProgram((dir / "bin" / "brivlon").string(),
        {"--convert", "txt", (dir / "notas.pdf").string()}, 60,
        {{"DISPLAY", ""}, {"XDG_STATE_HOME", (dir / "state").string()}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Uma parte do Brivlon está faltando ou danificada. Reinstale o app."), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("cannot open"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir / "Convertidos para TXT"));
    // Said once, although the worker met it warming the module and again running the job.
    const auto log = TestSupport::readFile(dir / "state" / "Brivlon" / "erros.log");
    const auto first = log.find("brivlon-pdf-text.so");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("brivlon-pdf-text.so", log.find('\n', first)), std::string::npos) << log;
}
