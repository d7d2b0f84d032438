#pragma once

#include "core/engines/engine_modules.h"

// Each engine module's one exported function, which hands over the table of the engines it holds
// (see EngineModules). The tests link them all and hand the tables over at start-up.
extern "C" {
const EngineModules::Images* brivlon_images();
const EngineModules::Documents* brivlon_documents();
const EngineModules::Faces* brivlon_faces();
const EngineModules::PDFText* brivlon_pdf_text();
}

// For a program that links the modules' entries (the tests and their probes): the engines it
// links stand for the modules.
inline void linkEngineModules()
{
    EngineModules::link({brivlon_images(), brivlon_documents(), brivlon_faces(), brivlon_pdf_text()});
}
