#include "engine_module.h"

// The image program's stand-ins for what its image engine and tools leave to the engine module
// (see engine_forwarders.cpp): face detection on OpenCV, and Qt Gui's readers for the files
// libvips does not know.

vips::VImage FaceBlur::blurFaces(const vips::VImage& image, const Detector& detector, const fs::path& jpegFile)
{
    return engineModule().blurFaces(image, detector, jpegFile);
}

std::vector<FaceBlur::Box> FaceBlur::detect(const unsigned char* bytes, int width, int height, int bands)
{
    return engineModule().detectFaces(bytes, width, height, bands);
}

ImageEngine::Picture QtImages::load(const fs::path& file) { return engineModule().loadWithQt(file); }
