#include "programs/engine_module.h"

extern "C" const FaceEntries* brivlon_faces()
{
    static const FaceEntries entries{FaceBlur::blurFaces, FaceBlur::detect};
    return &entries;
}
