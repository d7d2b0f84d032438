#include "support/private_home.h"
#include "support/test_support.h"
#include "programs/module_entries.h"

#include <vips/vips.h>

#include <QApplication>
#include <QGuiApplication>

#include <memory>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    VIPS_INIT(argv[0]);
    linkEngineModules();
    const TestSupport::PrivateHome home;
    // No test reaches the network: the update checker of this process and of every program it
    // starts asks a port on the loopback interface that nothing serves.
    setenv("BRIVLON_UPDATES_URL", "http://127.0.0.1:9/atualizacoes.json", 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int appArgc = 1;
    char name[] = "brivlon-tests";
    char* appArgv[] = {name, nullptr};
    // Widget tests ask for the widgets' application; the others get by with less.
    std::unique_ptr<QGuiApplication> app(
        TestSupport::widgetsWanted() ? new QApplication(appArgc, appArgv) : new QGuiApplication(appArgc, appArgv));
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}
