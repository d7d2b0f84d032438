#pragma once

#include <vips/vips8>

#include <filesystem>
#include <functional>
#include <vector>

// Finds faces and pixellates them, for the blur-faces tool.
namespace FaceBlur {

// A face in image pixels, origin at the top-left.
struct Box {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// Finds the faces in an 8-bit image of 1 to 4 bands (laid out as `bytes`, rows top to bottom),
// in that image's pixels.
using Detector = std::function<std::vector<Box>(const unsigned char* bytes, int width, int height, int bands)>;

// Haar cascades from the system's OpenCV data: frontal faces, and profiles looking either way
// (better too much blurred than a face missed), on a grey, equalised copy at most 1280 pixels
// long. Throws ToolError when a cascade cannot be loaded.
std::vector<Box> detect(const unsigned char* bytes, int width, int height, int bands);

// Pixellates `bytes` in place: cells of max(width, height) / 40 pixels, aligned to the
// bottom-left corner, each the colour of its centre pixel (clamped to the picture). Only pixels
// inside the union of the boxes, each widened by 15 % of its width on both sides and 25 % of its
// height above and below, change; all others stay as they are.
void pixellate(unsigned char* bytes, int width, int height, int bands, const std::vector<Box>& faces);

// The image with its faces pixellated, as 8-bit samples. `jpegFile`, when given, is the JPEG file
// `image` is (as ImageEngine::Picture::jpegFile): the detector then gets a copy decoded from it
// at a reduced size, while the image itself decodes. Throws ToolError "Nenhum rosto encontrado."
// when the detector finds none.
vips::VImage blurFaces(
    const vips::VImage& image, const Detector& detector = detect, const std::filesystem::path& jpegFile = {});
}
