#include "programs/engine_module.h"

// The image program's stand-ins for what its image engine and tools leave to the modules (see
// engine_forwarders.cpp): face detection on OpenCV to the faces module, and Qt Gui's readers for
// the files libvips does not know and LibRaw's for camera raw files to the engine module.

vips::VImage FaceBlur::blurFaces(const vips::VImage& image, const Detector& detector, const fs::path& jpegFile)
{
    // The module knows its own detector, not this stand-in for it: handed the module's, it reads
    // the cascades and decodes the detection copy for it while the picture decodes.
    const auto& module = facesModule();
    using Function = std::vector<Box> (*)(const unsigned char*, int, int, int);
    const auto* function = detector.target<Function>();
    if (function && *function == FaceBlur::detect)
        return module.blurFaces(image, module.detectFaces, jpegFile);
    return module.blurFaces(image, detector, jpegFile);
}

std::vector<FaceBlur::Box> FaceBlur::detect(const unsigned char* bytes, int width, int height, int bands)
{
    return facesModule().detectFaces(bytes, width, height, bands);
}

ImageEngine::Picture QtImages::load(const fs::path& file) { return engineModule().loadWithQt(file); }

ImageEngine::Picture RawImages::load(const fs::path& file) { return engineModule().loadRaw(file); }
