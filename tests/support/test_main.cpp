#include "support/test_support.h"

#include <vips/vips.h>

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>

// Test programs with widgets define this to make a QApplication instead.
std::unique_ptr<QGuiApplication> makeWidgetsApplication(int& argc, char** argv) __attribute__((weak));

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    VIPS_INIT(argv[0]);
    char pattern[] = "/tmp/brivlon-test-XXXXXX";
    const fs::path home = mkdtemp(pattern);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / ".local/state").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int appArgc = 1;
    char name[] = "brivlon-tests";
    char* appArgv[] = {name, nullptr};
    auto app = makeWidgetsApplication ? makeWidgetsApplication(appArgc, appArgv)
                                      : std::make_unique<QGuiApplication>(appArgc, appArgv);
    std::setlocale(LC_NUMERIC, "C");
    int result = RUN_ALL_TESTS();
    FileSafety::removeTree(home);
    return result;
}
