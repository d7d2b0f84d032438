#pragma once

#include <QString>

class QMessageBox;

// The About box: the program's name, its version as the update checker shows it, and two lines
// on what it does. One box for the whole program, whichever menu asks for it; a second request
// brings the same box forward.
namespace AboutBox {

// The two lines under the version.
QString credits();

void show();
// The box while it is open; nothing otherwise.
QMessageBox* shown();

}
