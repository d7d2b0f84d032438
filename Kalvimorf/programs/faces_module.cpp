#include "programs/module_entries.h"

const EngineModules::Faces* brivlon_faces()
{
    static const EngineModules::Faces table{FaceBlur::blurFaces, FaceBlur::detect};
    return &table;
}
