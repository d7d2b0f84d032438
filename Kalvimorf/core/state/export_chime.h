#pragma once

#include "core/state/chime.h"

#include <string>
#include <vector>

// The command-line mode that writes one synthesised sound as a WAV file.
namespace ExportChime {
// The kind of that name; any other word gives the completion sound.
Chime::Kind kindFor(const std::string& word);
// args: the process arguments (program, option, out.wav [, kind]). Whether the sound was written;
// a file that cannot be written is reported on standard error.
bool run(const std::vector<std::string>& args);
}
