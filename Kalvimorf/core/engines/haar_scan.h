#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <optional>
#include <vector>

// A boosted cascade of Haar stumps on upright features, as OpenCV's cascade files hold it.
struct HaarCascade {
    // A rectangle of the base window and its weight.
    struct Box {
        cv::Rect rect;
        float weight = 0;
    };
    struct Feature {
        std::array<Box, 3> boxes{};
    };
    struct Stump {
        int feature = 0;
        float threshold = 0;
        float left = 0;
        float right = 0;
    };
    struct Stage {
        int first = 0;
        int count = 0;
        float threshold = 0;
    };

    cv::Size window;
    std::vector<Feature> features;
    std::vector<Stump> stumps;
    std::vector<Stage> stages;
};

// Runs Haar cascades over pictures many windows at a time. It finds exactly what
// cv::CascadeClassifier::detectMultiScale finds: the same scales, the same scaled pictures and
// integral images, the same windows, the same arithmetic, the same grouping.
namespace HaarScan {

// The cascade of a cascade file's top node; nothing when the node holds another kind of
// cascade (trees deeper than one split, tilted features, LBP) or is malformed.
std::optional<HaarCascade> read(const cv::FileNode& root);

// One cascade over one of the pictures.
struct Pass {
    const HaarCascade* cascade = nullptr;
    int picture = 0;
};

// How many windows go side by side: 16 with AVX-512, 8 with AVX2, 8 in plain SSE2 code. All find
// the same; the widest the processor runs is the default.
enum class Width { widest, avx2, plain };

// What cv::groupRectangles(rects, threshold, eps) leaves, step for step: near rectangles join a
// cluster; a cluster of more than `threshold` becomes its mean rectangle, unless a better supported
// cluster holds it. Here rather than from OpenCV's detection library, whose neural-network
// dependencies would come into the worker with it.
void group(std::vector<cv::Rect>& rects, int threshold, double eps);

// For every pass, what detectMultiScale(pictures[pass.picture], found, scaleFactor, neighbours,
// 0, minimum) finds with that cascade. The pictures are 8-bit, one channel. All passes share
// the cores: the work is split into rows of windows of every scale of every pass.
std::vector<std::vector<cv::Rect>> detect(const std::vector<cv::Mat>& pictures, const std::vector<Pass>& passes,
    double scaleFactor, int neighbours, cv::Size minimum, Width width = Width::widest);

}
