#include "core/engines/haar_scan.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>

#include <sys/mman.h>
#include <unistd.h>

// Every sum, product and comparison below is the one OpenCV's cascade makes, in the same order and
// in the same types (int sums, float features, double stage sums): this file is built with
// -ffp-contract=off, so that no multiply and add fuse into one rounding that OpenCV does not make.

namespace HaarScan {

namespace {

// OpenCV lowers every stage threshold by this much when it reads a cascade.
constexpr float thresholdEps = 1e-5f;
// The most windows scanned side by side; rows carry this many spare ints.
constexpr int maxLanes = 16;
// The integral images and tables of a group of layers, in bytes, unless a single layer needs more.
// A scan holds two groups at once.
constexpr double layerBudget = 8 << 20;

// `Lanes` values of a type, one per window; the doubles also as two halves, which the
// processor holds in one register each.
template <int Lanes> struct Vectors {
    typedef int Ints __attribute__((vector_size(Lanes * sizeof(int))));
    typedef unsigned Unsigneds __attribute__((vector_size(Lanes * sizeof(unsigned))));
    typedef float Floats __attribute__((vector_size(Lanes * sizeof(float))));
    typedef double Doubles __attribute__((vector_size(Lanes * sizeof(double))));
    typedef double HalfDoubles __attribute__((vector_size(Lanes / 2 * sizeof(double))));
};

// The scale factors a scan steps through: the running product of the factor, as float.
std::vector<float> factorsUpTo(double scaleFactor, double largest)
{
    std::vector<float> factors;
    for (double factor = 1; factor <= largest; factor *= scaleFactor)
        factors.push_back(float(factor));
    return factors;
}

// The indices (into factorsUpTo) of the scales detectMultiScale scans for a cascade on a picture:
// the windows that fit the picture and are at least `minimum`, or, when none is, the one closest
// to `minimum`.
std::vector<int> scalesOf(const HaarCascade& cascade, cv::Size picture, double scaleFactor, cv::Size minimum)
{
    const cv::Size base = cascade.window;
    if (picture.width < base.width || picture.height < base.height)
        return {};
    std::vector<float> all;
    for (double factor = 1;; factor *= scaleFactor) {
        const cv::Size window(cvRound(base.width * factor), cvRound(base.height * factor));
        if (window.width > picture.width || window.height > picture.height)
            break;
        all.push_back(float(factor));
    }
    const auto windowAt = [&](size_t index) {
        return cv::Size(cvRound(base.width * all[index]), cvRound(base.height * all[index]));
    };
    std::vector<int> chosen;
    for (size_t index = 0; index < all.size(); ++index) {
        const auto window = windowAt(index);
        if (window.width > picture.width || window.height > picture.height)
            break;
        if (window.width < minimum.width || window.height < minimum.height)
            continue;
        chosen.push_back(int(index));
    }
    if (chosen.empty() && !all.empty()) {
        size_t closest = 0;
        double closestDistance = 0;
        for (size_t index = 0; index < all.size(); ++index) {
            const auto window = windowAt(index);
            const double distance = (minimum.width - window.width) * (minimum.width - window.width)
                + (minimum.height - window.height) * (minimum.height - window.height);
            if (index == 0 || closestDistance > distance) {
                closest = index;
                closestDistance = distance;
            }
        }
        chosen.push_back(int(closest));
    }
    return chosen;
}

// A picture scaled down by one factor, with its integral images. Windows step `step` pixels
// across and down; with a step of 2 the integral images are split into even and odd columns,
// so that the windows of a row read neighbouring ints. Rows carry spare ints on the right, so
// that a full set of lanes can be read past the last window. The cascades of one picture share
// its layers.
// Integral images are large, short-lived and made on many threads at once: mapped on their own,
// they go back to the system when the scan ends, instead of staying in the heap of whichever
// thread made them. Within a scan a mapping whose layer is done is taken again by a later,
// smaller layer: a fresh mapping costs a page fault for every page written to it.
class Mappings {
public:
    Mappings() = default;
    Mappings(const Mappings&) = delete;
    Mappings& operator=(const Mappings&) = delete;
    ~Mappings()
    {
        for (const auto& [at, bytes] : free)
            ::munmap(at, bytes);
    }

    // Room for `bytes`, and how many bytes it holds.
    std::pair<void*, size_t> take(size_t bytes)
    {
        {
            const std::lock_guard lock(mutex);
            // The smallest that is large enough.
            auto best = free.end();
            for (auto it = free.begin(); it != free.end(); ++it)
                if (it->second >= bytes && (best == free.end() || it->second < best->second))
                    best = it;
            if (best != free.end()) {
                const auto taken = *best;
                free.erase(best);
                // What the smaller layer leaves unused goes back to the system.
                const size_t page = size_t(::sysconf(_SC_PAGESIZE));
                const size_t kept = (bytes + page - 1) / page * page;
                if (kept < taken.second)
                    ::madvise(static_cast<char*>(taken.first) + kept, taken.second - kept, MADV_DONTNEED);
                return taken;
            }
        }
        void* at = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (at == MAP_FAILED)
            throw std::bad_alloc();
        return {at, bytes};
    }

    void give(void* at, size_t bytes)
    {
        const std::lock_guard lock(mutex);
        free.emplace_back(at, bytes);
    }

private:
    std::mutex mutex;
    std::vector<std::pair<void*, size_t>> free;
};

template <typename T> struct GiveBack {
    Mappings* mappings = nullptr;
    size_t bytes = 0;
    void operator()(T* at) const { mappings->give(at, bytes); }
};
template <typename T> using Mapped = std::unique_ptr<T[], GiveBack<T>>;

template <typename T> Mapped<T> mapped(Mappings& mappings, size_t count)
{
    const auto [at, bytes] = mappings.take(std::max<size_t>(count, 1) * sizeof(T));
    return Mapped<T>(static_cast<T*>(at), GiveBack<T>{&mappings, bytes});
}

struct Layer {
    float factor = 0;
    int step = 1;
    cv::Size integral;
    int stride = 0;  // ints from one row to the next
    int oddPlane = 0;  // ints from the even columns to the odd ones
    cv::Mat scaled;  // until the integral images are made
    Mapped<int> sums;
    Mapped<unsigned> squares;

    // Where the integral images' point (x, y) of a window is, from the window's first int.
    int offset(int x, int y) const { return step == 1 ? y * stride + x : (x & 1) * oddPlane + y * stride + (x >> 1); }
};

// A layer's picture scaled down, and room for its integral images; the sums themselves are left
// to sumRows and sumColumns.
Layer layerOf(const cv::Mat& picture, float factor, Mappings& mappings)
{
    Layer layer;
    layer.factor = factor;
    layer.step = factor >= 2 ? 1 : 2;
    const cv::Size size(cvRound(picture.cols / factor), cvRound(picture.rows / factor));
    layer.integral = {size.width + 1, size.height + 1};

    cv::resize(picture, layer.scaled, size, 1. / factor, 1. / factor, cv::INTER_LINEAR_EXACT);

    const int planeWidth = (layer.integral.width + layer.step - 1) / layer.step;
    layer.stride = planeWidth + maxLanes;
    layer.oddPlane = layer.stride * layer.integral.height;
    const size_t total = size_t(layer.oddPlane) * size_t(layer.step);
    layer.sums = mapped<int>(mappings, total);
    layer.squares = mapped<unsigned>(mappings, total);
    return layer;
}

// The integral images as cv::integral makes them for the cascade (32-bit sums and sums of
// squares, the latter wrapping around; windows take differences, which come out right), made
// in two passes that each split among the cores: first every row's running sums (rows `first`
// to `end` of the integral images), then each column's sums down the rows.
void sumRows(Layer& layer, int first, int end)
{
    int* const sums = layer.sums.get();
    unsigned* const squares = layer.squares.get();
    for (int y = first; y < end; ++y) {
        // The top row and the left column are zeros, and so are the spare ints of each row.
        for (int plane = 0; plane < layer.step; ++plane) {
            const size_t row = size_t(plane) * size_t(layer.oddPlane) + size_t(y) * size_t(layer.stride);
            const int used = y == 0 ? 0 : (layer.integral.width - plane + layer.step - 1) / layer.step;
            std::fill(sums + row + used, sums + row + layer.stride, 0);
            std::fill(squares + row + used, squares + row + layer.stride, 0u);
        }
        if (y == 0)
            continue;
        const unsigned char* pixels = layer.scaled.ptr<unsigned char>(y - 1);
        const auto here = size_t(layer.offset(0, y));
        sums[here] = 0;
        squares[here] = 0;
        int sum = 0;
        unsigned square = 0;
        for (int x = 1; x < layer.integral.width; ++x) {
            const int pixel = pixels[x - 1];
            sum += pixel;
            square += unsigned(pixel * pixel);
            const int column = layer.offset(x, 0);
            sums[here + column] = sum;
            squares[here + column] = square;
        }
    }
}

// Columns `first` to `end` of the ints of a row, every plane side by side (`stride` ints each).
void sumColumns(Layer& layer, int first, int end)
{
    int* const sums = layer.sums.get();
    unsigned* const squares = layer.squares.get();
    for (int plane = 0; plane < layer.step; ++plane) {
        const int from = std::max(first - plane * layer.stride, 0);
        const int to = std::min(end - plane * layer.stride, layer.stride);
        for (int y = 2; y < layer.integral.height; ++y) {
            const size_t above = size_t(plane) * size_t(layer.oddPlane) + size_t(y - 1) * size_t(layer.stride);
            const size_t here = above + size_t(layer.stride);
            for (int x = from; x < to; ++x) {
                sums[here + size_t(x)] += sums[above + size_t(x)];
                squares[here + size_t(x)] += squares[above + size_t(x)];
            }
        }
    }
}

// A stump in a layer: its feature's corners, from a window's first int, and weights, and the
// stump's threshold and leaves. A layer's table holds the stumps in the order they run.
struct LayerStump {
    int at[3][4];
    float weight[3];
    float threshold, left, right;  // the stump's
};

// One cascade on one layer: its stumps, and where its windows go.
struct Tables {
    std::vector<LayerStump> stumps;
    int norm[4];  // the window less a one-pixel border, which the variance is taken over
    double normArea = 0;
    cv::Size working;  // window positions: x below working.width, y below working.height
    int columns = 0;  // windows in a row
    cv::Size window;  // a window's size in the picture
};

// How many stripes detectMultiScale cuts every scale's rows of windows into, for a cascade on a
// picture: one for each 32 columns of windows at the first scale it scans.
int stripesOf(const HaarCascade& cascade, cv::Size picture, float firstFactor)
{
    const int columns = std::max(cvRound(picture.width / firstFactor) + 1 - cascade.window.width, 0);
    return std::max(cvCeil(columns / 32.), 1);
}

Tables tablesOf(const HaarCascade& cascade, const Layer& layer, int stripes)
{
    const auto corners = [&](const cv::Rect& r, int* at) {
        at[0] = layer.offset(r.x, r.y);
        at[1] = layer.offset(r.x + r.width, r.y);
        at[2] = layer.offset(r.x, r.y + r.height);
        at[3] = layer.offset(r.x + r.width, r.y + r.height);
    };
    Tables tables;
    tables.stumps.resize(cascade.stumps.size());
    for (size_t i = 0; i < cascade.stumps.size(); ++i) {
        const auto& stump = cascade.stumps[i];
        const auto& feature = cascade.features[size_t(stump.feature)];
        auto& own = tables.stumps[i];
        for (int b = 0; b < 3; ++b) {
            corners(feature.boxes[size_t(b)].rect, own.at[b]);
            own.weight[b] = feature.boxes[size_t(b)].weight;
        }
        own.threshold = stump.threshold;
        own.left = stump.left;
        own.right = stump.right;
    }
    const cv::Rect norm(1, 1, cascade.window.width - 2, cascade.window.height - 2);
    corners(norm, tables.norm);
    tables.normArea = norm.area();
    tables.working = {std::max(layer.integral.width - cascade.window.width, 0),
        std::max(layer.integral.height - cascade.window.height, 0)};
    // detectMultiScale gives each stripe the rows rounded down, as whole steps: when the rows
    // of windows are odd in number at a step of 2 and their half divides among the stripes,
    // the stripes end one row short and the last row of windows is never looked at.
    const int stripeRows = std::max((tables.working.height / layer.step + stripes - 1) / stripes, 1) * layer.step;
    tables.working.height = std::min(tables.working.height, stripeRows * stripes);
    tables.columns = (tables.working.width + layer.step - 1) / layer.step;
    tables.window = {cvRound(cascade.window.width * layer.factor), cvRound(cascade.window.height * layer.factor)};
    return tables;
}

// A stretch of rows of one layer, scanned with one cascade; what passes is gathered per pass.
struct Job {
    int pass = 0;
    const HaarCascade* cascade = nullptr;
    const Layer* layer = nullptr;
    const Tables* tables = nullptr;
    int firstRow = 0;
    int endRow = 0;
    double cost = 0;
};

template <typename Vector, typename Int> [[gnu::always_inline]] inline Vector load(const Int* at)
{
    Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <typename Vector, typename Int> [[gnu::always_inline]] inline Vector boxSum(const Int* window, const int* at)
{
    return load<Vector>(window + at[0]) - load<Vector>(window + at[1]) - load<Vector>(window + at[2])
        + load<Vector>(window + at[3]);
}

// The lanes (as bits) whose windows pass `stage`.
template <int Lanes>
[[gnu::always_inline]] inline unsigned passing(
    const HaarCascade::Stage& stage, const LayerStump* stumps, const int* window, typename Vectors<Lanes>::Floats norm)
{
    using Ints = typename Vectors<Lanes>::Ints;
    using Floats = typename Vectors<Lanes>::Floats;
    using Doubles = typename Vectors<Lanes>::Doubles;
    using HalfDoubles = typename Vectors<Lanes>::HalfDoubles;
    HalfDoubles low = {}, high = {};
    for (int i = 0; i < stage.count; ++i) {
        const LayerStump& f = stumps[stage.first + i];
        Floats value = f.weight[0] * __builtin_convertvector(boxSum<Ints>(window, f.at[0]), Floats)
            + f.weight[1] * __builtin_convertvector(boxSum<Ints>(window, f.at[1]), Floats);
        if (f.weight[2] != 0.0f)
            value += f.weight[2] * __builtin_convertvector(boxSum<Ints>(window, f.at[2]), Floats);
        value *= norm;
        // x - 0 is x for every x, so this is a plain broadcast; x + 0 is not (it turns -0 into 0).
        const Floats left = f.left - Floats{}, right = f.right - Floats{};
        const Floats leaf = value < f.threshold ? left : right;
        // Converted whole, then added in halves: so the sums stay in registers.
        const Doubles wide = __builtin_convertvector(leaf, Doubles);
        HalfDoubles halves[2];
        std::memcpy(halves, &wide, sizeof wide);
        low += halves[0];
        high += halves[1];
    }
    const double threshold = stage.threshold;
    double sums[Lanes];
    std::memcpy(sums, &low, sizeof low);
    std::memcpy(sums + Lanes / 2, &high, sizeof high);
    unsigned bits = 0;
    for (int lane = 0; lane < Lanes; ++lane)
        bits |= unsigned(!(sums[lane] < threshold)) << lane;
    return bits;
}

// Which of the windows `alive` (as bits, from `window` on) pass `stage`. Windows that pass the
// first stages lie close together: when those still alive lie within half as many lanes, only
// those lanes are looked at, each window as at full width. `factorOf` holds `Lanes` spare values.
template <int Lanes>
[[gnu::always_inline]] inline unsigned passingAlive(
    const HaarCascade::Stage& stage, const LayerStump* stumps, const int* window, const float* factorOf, unsigned alive)
{
    if constexpr (Lanes > 4) {
        const int lowest = __builtin_ctz(alive);
        if (alive >> lowest < 1u << Lanes / 2)
            return passingAlive<Lanes / 2>(stage, stumps, window + lowest, factorOf + lowest, alive >> lowest)
                << lowest;
    }
    typename Vectors<Lanes>::Floats factors;
    std::memcpy(&factors, factorOf, sizeof factors);
    return alive & passing<Lanes>(stage, stumps, window, factors);
}

// Scans a job's rows, `Lanes` windows side by side: the windows that pass every stage, as
// positions in the layer. As in detectMultiScale, a window that fails the first stage takes
// the next window of its row out of the scan.
template <int Lanes> [[gnu::always_inline]] inline void scanRows(const Job& job, std::vector<cv::Point>& found)
{
    using Ints = typename Vectors<Lanes>::Ints;
    using Unsigneds = typename Vectors<Lanes>::Unsigneds;
    using Floats = typename Vectors<Lanes>::Floats;
    const Layer& layer = *job.layer;
    const HaarCascade& cascade = *job.cascade;
    const Tables& tables = *job.tables;
    const LayerStump* stumps = tables.stumps.data();
    const int* norm = tables.norm;
    const double area = tables.normArea;
    const int stages = int(cascade.stages.size());
    for (int y = job.firstRow; y < job.endRow; y += layer.step) {
        const int* sumRow = layer.sums.get() + size_t(y) * size_t(layer.stride);
        const unsigned* squareRow = layer.squares.get() + size_t(y) * size_t(layer.stride);
        bool skipNext = false;
        for (int first = 0; first < tables.columns; first += Lanes) {
            const int* window = sumRow + first;
            int sums[Lanes];
            unsigned squares[Lanes];
            const Ints sum = boxSum<Ints>(window, norm);
            const Unsigneds square = boxSum<Unsigneds>(squareRow + first, norm);
            std::memcpy(sums, &sum, sizeof sums);
            std::memcpy(squares, &square, sizeof squares);
            // Twice as many, so that the windows from any lane on fill a vector.
            float factorOf[2 * Lanes];
            std::fill(factorOf + Lanes, factorOf + 2 * Lanes, 1.f);
            unsigned valid = 0;
            const int count = std::min(Lanes, tables.columns - first);
            for (int lane = 0; lane < Lanes; ++lane) {
                const double variance = area * squares[lane] - double(sums[lane]) * sums[lane];
                if (variance > 0.) {
                    factorOf[lane] = float(1. / std::sqrt(variance));
                    if (lane < count && area * factorOf[lane] < 1e-1)
                        valid |= 1u << lane;
                } else {
                    factorOf[lane] = 1.f;
                }
            }
            Floats factors;
            std::memcpy(&factors, factorOf, sizeof factors);
            const unsigned firstStage = passing<Lanes>(cascade.stages[0], stumps, window, factors);
            unsigned alive = 0;
            for (int lane = 0; lane < count; ++lane) {
                if (skipNext) {
                    skipNext = false;
                    continue;
                }
                const unsigned bit = 1u << lane;
                if (!(valid & bit))
                    continue;
                if (firstStage & bit)
                    alive |= bit;
                else
                    skipNext = true;
            }
            for (int stage = 1; stage < stages && alive; ++stage)
                alive = passingAlive<Lanes>(cascade.stages[size_t(stage)], stumps, window, factorOf, alive);
            for (int lane = 0; alive; ++lane, alive >>= 1)
                if (alive & 1)
                    found.push_back({(first + lane) * layer.step, y});
        }
    }
}

__attribute__((target("avx512f,avx512dq,avx512bw,avx512vl"))) void scanAvx512(
    const Job& job, std::vector<cv::Point>& found)
{
    scanRows<16>(job, found);
}

__attribute__((target("avx2"))) void scanAvx2(const Job& job, std::vector<cv::Point>& found)
{
    scanRows<8>(job, found);
}

void scanPlain(const Job& job, std::vector<cv::Point>& found) { scanRows<8>(job, found); }

using Scan = void (*)(const Job&, std::vector<cv::Point>&);

// The scan at `width`, or the widest below it that the processor runs; every one finds the
// same windows.
Scan scanAt(Width width)
{
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")
        && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    if (width == Width::widest && avx512)
        return scanAvx512;
    if (width != Width::plain && __builtin_cpu_supports("avx2"))
        return scanAvx2;
    return scanPlain;
}

}

std::optional<HaarCascade> read(const cv::FileNode& root)
{
    try {
        if (std::string(root["stageType"]) != "BOOST" || std::string(root["featureType"]) != "HAAR")
            return std::nullopt;
        HaarCascade cascade;
        cascade.window = {int(root["width"]), int(root["height"])};
        if (cascade.window.width <= 2 || cascade.window.height <= 2 || cascade.window.width > 1000
            || cascade.window.height > 1000)
            return std::nullopt;
        const auto params = root["featureParams"];
        if (params.empty() || int(params["maxCatCount"]) != 0)
            return std::nullopt;
        const auto stages = root["stages"];
        if (stages.empty())
            return std::nullopt;
        for (const auto& stageNode : stages) {
            HaarCascade::Stage stage;
            stage.threshold = float(stageNode["stageThreshold"]) - thresholdEps;
            const auto trees = stageNode["weakClassifiers"];
            if (trees.empty())
                return std::nullopt;
            stage.first = int(cascade.stumps.size());
            stage.count = int(trees.size());
            for (const auto& tree : trees) {
                const auto nodes = tree["internalNodes"];
                const auto leaves = tree["leafValues"];
                // One split: left, right, feature, threshold; two leaves.
                if (nodes.size() != 4 || leaves.size() != 2)
                    return std::nullopt;
                cascade.stumps.push_back({int(nodes[2]), float(nodes[3]), float(leaves[0]), float(leaves[1])});
            }
            cascade.stages.push_back(stage);
        }
        const auto features = root["features"];
        if (features.empty())
            return std::nullopt;
        const cv::Size window = cascade.window;
        for (const auto& node : features) {
            if (int(node["tilted"]) != 0)
                return std::nullopt;
            HaarCascade::Feature feature;
            size_t index = 0;
            for (const auto& rect : node["rects"]) {
                if (index == feature.boxes.size())
                    return std::nullopt;
                auto& box = feature.boxes[index++];
                auto it = rect.begin();
                it >> box.rect.x >> box.rect.y >> box.rect.width >> box.rect.height >> box.weight;
                const auto& r = box.rect;
                if (r.x < 0 || r.y < 0 || r.x >= window.width || r.y >= window.height || r.x + r.width > window.width
                    || r.y + r.height > window.height)
                    return std::nullopt;
            }
            cascade.features.push_back(feature);
        }
        for (const auto& stump : cascade.stumps)
            if (stump.feature < 0 || size_t(stump.feature) >= cascade.features.size())
                return std::nullopt;
        return cascade;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

void group(std::vector<cv::Rect>& rects, int threshold, double eps)
{
    if (threshold <= 0 || rects.empty())
        return;
    std::vector<int> labels;
    const int clusters = cv::partition(rects, labels, cv::SimilarRects(eps));
    std::vector<cv::Rect> sums(static_cast<size_t>(clusters));
    std::vector<int> counts(static_cast<size_t>(clusters), 0);
    for (size_t i = 0; i < labels.size(); ++i) {
        auto& sum = sums[size_t(labels[i])];
        sum.x += rects[i].x;
        sum.y += rects[i].y;
        sum.width += rects[i].width;
        sum.height += rects[i].height;
        ++counts[size_t(labels[i])];
    }
    std::vector<cv::Rect> means;
    for (int i = 0; i < clusters; ++i) {
        const cv::Rect r = sums[size_t(i)];
        const float s = 1.f / float(counts[size_t(i)]);
        means.emplace_back(cv::saturate_cast<int>(float(r.x) * s), cv::saturate_cast<int>(float(r.y) * s),
            cv::saturate_cast<int>(float(r.width) * s), cv::saturate_cast<int>(float(r.height) * s));
    }
    rects.clear();
    for (int i = 0; i < clusters; ++i) {
        const cv::Rect r1 = means[size_t(i)];
        const int n1 = counts[size_t(i)];
        if (n1 <= threshold)
            continue;
        bool inside = false;
        for (int j = 0; j < clusters && !inside; ++j) {
            const int n2 = counts[size_t(j)];
            if (j == i || n2 <= threshold)
                continue;
            const cv::Rect r2 = means[size_t(j)];
            const int dx = cv::saturate_cast<int>(r2.width * eps);
            const int dy = cv::saturate_cast<int>(r2.height * eps);
            inside = r1.x >= r2.x - dx && r1.y >= r2.y - dy && r1.x + r1.width <= r2.x + r2.width + dx
                && r1.y + r1.height <= r2.y + r2.height + dy && (n2 > std::max(3, n1) || n1 < 3);
        }
        if (!inside)
            rects.push_back(r1);
    }
}

std::vector<std::vector<cv::Rect>> detect(const std::vector<cv::Mat>& pictures, const std::vector<Pass>& passes,
    double scaleFactor, int neighbours, cv::Size minimum, Width width)
{
    CV_Assert(scaleFactor > 1);
    double largest = 1;
    for (const auto& picture : pictures)
        largest = std::max({largest, double(picture.cols), double(picture.rows)});
    const auto factors = factorsUpTo(scaleFactor, largest);

    // The layers every pass needs, each made once: the passes on one picture share them.
    std::vector<std::vector<int>> scales;
    std::map<std::pair<int, int>, size_t> layerIndex;  // (picture, factor) → layer
    std::vector<std::pair<int, int>> layerKeys;
    std::vector<int> stripes;
    for (const auto& pass : passes) {
        const cv::Size picture = pictures[size_t(pass.picture)].size();
        scales.push_back(scalesOf(*pass.cascade, picture, scaleFactor, minimum));
        stripes.push_back(
            scales.back().empty() ? 1 : stripesOf(*pass.cascade, picture, factors[size_t(scales.back()[0])]));
        for (int factor : scales.back())
            if (layerIndex.try_emplace({pass.picture, factor}, layerKeys.size()).second)
                layerKeys.push_back({pass.picture, factor});
    }
    // The layers are made and scanned a group at a time, the largest first, so that the scan
    // holds a few layers rather than every scale of every picture at once (about six times the
    // picture's size in integral images for each picture, 150 MB for 1280 pixels square).
    std::vector<size_t> bySize(layerKeys.size());
    std::iota(bySize.begin(), bySize.end(), size_t(0));
    std::stable_sort(bySize.begin(), bySize.end(), [&](size_t a, size_t b) {
        return layerKeys[a].second < layerKeys[b].second;
    });
    // A layer's cost is its integral images and the tables of the passes that scan it, which for
    // the small layers far outweigh the images.
    std::vector<double> tableBytes(layerKeys.size(), 0);
    for (size_t p = 0; p < passes.size(); ++p)
        for (int factor : scales[p])
            tableBytes[layerIndex.at({passes[p].picture, factor})]
                += double(passes[p].cascade->stumps.size() * sizeof(LayerStump));
    const auto bytesOf = [&](size_t layer) {
        const auto& picture = pictures[size_t(layerKeys[layer].first)];
        const double factor = factors[size_t(layerKeys[layer].second)];
        return 8 * (picture.cols / factor + 1 + maxLanes) * (picture.rows / factor + 1) + tableBytes[layer];
    };
    // Each job keeps its place in the order of a scan of all layers at once: created pass by
    // pass, scale by scale, row by row, then the costliest first; what it finds is gathered in
    // that order, so that the grouping below sees the rectangles as one scan would give them.
    struct Done {
        double cost;
        size_t created;
        int pass;
        float factor;
        cv::Size window;
        std::vector<cv::Point> found;
    };
    std::vector<Done> done;
    std::vector<size_t> createdBefore(passes.size() + 1, 0);
    for (size_t p = 0; p < passes.size(); ++p)
        createdBefore[p + 1] = createdBefore[p] + scales[p].size();
    const Scan scan = scanAt(width);
    std::vector<std::vector<size_t>> groups;
    for (size_t from = 0; from < bySize.size();) {
        size_t to = from + 1;
        for (double bytes = bytesOf(bySize[from]); to < bySize.size() && bytes + bytesOf(bySize[to]) <= layerBudget;
             ++to)
            bytes += bytesOf(bySize[to]);
        groups.emplace_back(bySize.begin() + std::ptrdiff_t(from), bySize.begin() + std::ptrdiff_t(to));
        from = to;
    }
    // A group's layers by their place in layerKeys, to be filled in side by side.
    const auto slotsOf = [&](size_t group) {
        std::map<size_t, Layer> slots;
        if (group < groups.size())
            for (size_t key : groups[group])
                slots[key];
        return slots;
    };
    // The first group's layers, each made by all the cores: the largest make a group on their own.
    // Each is scaled down here, where the scaling itself splits among the cores.
    // Declared before the layers, which give their mappings back to it.
    Mappings mappings;
    auto layers = slotsOf(0);
    {
        struct Part {
            Layer* layer;
            int first, end;
        };
        std::vector<Part> rowParts, columnParts;
        for (auto& [key, layer] : layers) {
            const auto [picture, factor] = layerKeys[key];
            layer = layerOf(pictures[size_t(picture)], factors[size_t(factor)], mappings);
            // Parts of about 64 000 ints each.
            const int parts = std::clamp(layer.integral.area() / 65536, 1, 32);
            const int columns = layer.stride * layer.step;
            for (int part = 0; part < parts; ++part) {
                rowParts.push_back(
                    {&layer, layer.integral.height * part / parts, layer.integral.height * (part + 1) / parts});
                columnParts.push_back({&layer, columns * part / parts, columns * (part + 1) / parts});
            }
        }
        cv::parallel_for_(cv::Range(0, int(rowParts.size())), [&](const cv::Range& range) {
            for (int i = range.start; i < range.end; ++i)
                sumRows(*rowParts[size_t(i)].layer, rowParts[size_t(i)].first, rowParts[size_t(i)].end);
        });
        cv::parallel_for_(cv::Range(0, int(columnParts.size())), [&](const cv::Range& range) {
            for (int i = range.start; i < range.end; ++i)
                sumColumns(*columnParts[size_t(i)].layer, columnParts[size_t(i)].first, columnParts[size_t(i)].end);
        });
        for (auto& [key, layer] : layers)
            layer.scaled.release();
    }
    // Every later group's layers are made while the group before is scanned, each layer by one
    // core, so that no core waits for them.
    const auto make = [&](std::map<size_t, Layer>& slots, size_t key) {
        const auto [picture, factor] = layerKeys[key];
        Layer& layer = slots.at(key) = layerOf(pictures[size_t(picture)], factors[size_t(factor)], mappings);
        sumRows(layer, 0, layer.integral.height);
        sumColumns(layer, 0, layer.stride * layer.step);
        layer.scaled.release();
    };
    for (size_t g = 0; g < groups.size(); ++g) {
        auto next = slotsOf(g + 1);
        const std::vector<size_t> none;
        const auto& coming = g + 1 < groups.size() ? groups[g + 1] : none;

        // Rows of windows in stretches of about the same work, the costliest first, so that the
        // cores finish together.
        std::vector<std::unique_ptr<Tables>> tables;
        std::vector<Job> jobs;
        std::vector<size_t> created;
        for (size_t p = 0; p < passes.size(); ++p)
            for (size_t s = 0; s < scales[p].size(); ++s) {
                const auto layer = layers.find(layerIndex.at({passes[p].picture, scales[p][s]}));
                if (layer == layers.end())
                    continue;
                tables.push_back(std::make_unique<Tables>(tablesOf(*passes[p].cascade, layer->second, stripes[p])));
                const Tables& own = *tables.back();
                const int rows = (own.working.height + layer->second.step - 1) / layer->second.step;
                // About 16 000 windows a job.
                const int rowsPerJob = std::max(1, 16000 / std::max(1, own.columns));
                for (int row = 0; row < rows; row += rowsPerJob) {
                    const int end = std::min(rows, row + rowsPerJob);
                    jobs.push_back({int(p), passes[p].cascade, &layer->second, &own, row * layer->second.step,
                        std::min(own.working.height, end * layer->second.step), double(end - row) * own.columns});
                    // Jobs are counted pass by pass, scale by scale, and by their first row within one.
                    created.push_back(((createdBefore[p] + s) << 32) + size_t(row));
                }
            }
        std::vector<size_t> order(jobs.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return jobs[a].cost > jobs[b].cost;
        });
        std::vector<std::vector<cv::Point>> found(jobs.size());
        // The next group's layers first: each is a longer task than any one job.
        const int makes = int(coming.size());
        cv::parallel_for_(
            cv::Range(0, makes + int(order.size())),
            [&](const cv::Range& range) {
                for (int i = range.start; i < range.end; ++i)
                    if (i < makes)
                        make(next, coming[size_t(i)]);
                    else
                        scan(jobs[order[size_t(i - makes)]], found[order[size_t(i - makes)]]);
            },
            double(makes + int(jobs.size())));
        for (size_t i = 0; i < jobs.size(); ++i)
            done.push_back({jobs[i].cost, created[i], jobs[i].pass, jobs[i].layer->factor, jobs[i].tables->window,
                std::move(found[i])});
        layers = std::move(next);
    }
    std::sort(done.begin(), done.end(), [](const Done& a, const Done& b) {
        return a.cost != b.cost ? a.cost > b.cost : a.created < b.created;
    });

    std::vector<std::vector<cv::Rect>> objects(passes.size());
    for (const auto& job : done)
        for (const auto& at : job.found)
            objects[size_t(job.pass)].push_back(
                {cvRound(at.x * job.factor), cvRound(at.y * job.factor), job.window.width, job.window.height});
    for (size_t p = 0; p < passes.size(); ++p) {
        auto& rects = objects[p];
        group(rects, neighbours, 0.2);
        // What reaches out of the picture is cut to it, and what is left of nothing goes.
        const cv::Rect whole({0, 0}, pictures[size_t(passes[p].picture)].size());
        std::vector<cv::Rect> clipped;
        for (const auto& r : rects)
            if (const auto inside = r & whole; !inside.empty())
                clipped.push_back(inside);
        rects = std::move(clipped);
    }
    return objects;
}

}
