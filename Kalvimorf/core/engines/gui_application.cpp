#include "core/engines/gui_application.h"

#include "core/base/conversion_error.h"
#include "core/base/process.h"

#include <QGuiApplication>

#include <cstdlib>
#include <mutex>

namespace GuiApplication {

void require()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QCoreApplication::instance())
            return;
        if (!std::getenv("QT_QPA_PLATFORM")) {
            Process::EnvironmentChange change;
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        static int argc = 1;
        static char name[] = "brivlon";
        static char* argv[] = {name, nullptr};
        new QGuiApplication(argc, argv);
    });
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw ConversionError::unsupported();
}

}
