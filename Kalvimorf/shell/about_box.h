#pragma once

#include <QString>

class QMessageBox;

// The About box: the program's name, its version and two lines on what it does. One box for
// the whole program, whichever menu asks for it; a second request brings the same box forward.
namespace AboutBox {

// The version as the user reads it, here and wherever else the program shows it.
QString displayVersion();
// The two lines under the version.
QString credits();

void show();
// The box while it is open; nothing otherwise.
QMessageBox* shown();

}
