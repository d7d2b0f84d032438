#include "core/engines/jpeg_stripes.h"

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <thread>
#include <vector>

namespace JpegStripes {

namespace {

// An error or a warning of the decoder jumps back out of it.
struct Failure {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void fail(j_common_ptr info) { std::longjmp(reinterpret_cast<Failure*>(info->err)->back, 1); }

void message(j_common_ptr info, int level)
{
    if (level < 0)
        fail(info);
}

void silence(j_common_ptr) { }

struct Shape {
    int width = 0;
    int height = 0;
    int bands = 0;
    int decodedWidth = 0;  // the decoder's rows, which may be a pixel longer
};

// Reading a header goes on past what the decoder mends.
void tolerate(j_common_ptr, int) { }

// Runs `work` on a decoder reading `file` with `shrink` set; false when the decoder complained
// (of warnings too, unless `tolerant`). Only plain data lives across the jump.
template <typename Work> bool withDecoder(const char* path, int shrink, Work work, bool tolerant = false)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    jpeg_decompress_struct info;
    Failure failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = fail;
    failure.manager.emit_message = tolerant ? tolerate : message;
    failure.manager.output_message = silence;
    jpeg_create_decompress(&info);
    volatile bool done = false;
    if (setjmp(failure.back) == 0) {
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        info.scale_num = 1;
        info.scale_denom = unsigned(shrink);
        done = work(info);
    }
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return done;
}

// The scaled picture's size, for a file decoded here: sequential (not progressive), Huffman
// coded, YCbCr or grey.
std::optional<Shape> shapeOf(const char* path, int shrink)
{
    Shape shape;
    const bool suits = withDecoder(path, shrink, [&shape, shrink](jpeg_decompress_struct& info) {
        const bool colour = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3;
        const bool grey = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
        if (info.progressive_mode || info.arith_code || !(colour || grey))
            return false;
        jpeg_calc_output_dimensions(&info);
        shape = {int(info.output_width), int(info.output_height), int(info.output_components)};
        // libvips keeps whole scaled pixels only: the decoder's last column and row, made of
        // fewer than `shrink` pixels, go.
        shape.width = std::min(shape.width, int(info.image_width) / shrink);
        shape.height = std::min(shape.height, int(info.image_height) / shrink);
        shape.decodedWidth = int(info.output_width);
        return true;
    });
    if (!suits)
        return std::nullopt;
    return shape;
}

// Rows `first` to `end` of the scaled picture into `into`, `rowBytes` apart; through `convert`
// when given (the decoder's rows `decodedRowBytes` long).
bool decodeRows(const char* path, int shrink, int first, int end, unsigned char* into, size_t rowBytes,
    const Convert& convert, const Shape& shape, size_t decodedRowBytes)
{
    constexpr int band = 16;
    std::unique_ptr<unsigned char[]> scratch(convert ? new unsigned char[decodedRowBytes * band] : nullptr);
    return withDecoder(path, shrink, [&](jpeg_decompress_struct& info) {
        jpeg_start_decompress(&info);
        if (first > 0 && jpeg_skip_scanlines(&info, JDIMENSION(first)) != JDIMENSION(first))
            return false;
        while (int(info.output_scanline) < end) {
            const int row = int(info.output_scanline);
            JSAMPROW rows[band];
            int count = 0;
            for (; count < band && row + count < end; ++count)
                rows[count] = scratch ? scratch.get() + size_t(count) * decodedRowBytes
                                      : into + size_t(row + count) * rowBytes;
            // The decoder may give fewer rows than asked for.
            const auto given = int(jpeg_read_scanlines(&info, rows, JDIMENSION(count)));
            if (given == 0)
                return false;
            if (convert)
                convert(scratch.get(), decodedRowBytes, shape.bands, into + size_t(row) * rowBytes, rowBytes,
                    shape.width, given);
        }
        return true;
    });
}

}

std::optional<Decoded> decode(
    const std::filesystem::path& file, int shrink, int stretches, const Convert& convert, int convertedBands)
{
    const auto shape = shapeOf(file.c_str(), shrink);
    if (!shape || shape->width < 1 || shape->height < 1)
        return std::nullopt;
    Decoded decoded;
    decoded.width = shape->width;
    decoded.height = shape->height;
    decoded.bands = convert ? convertedBands : shape->bands;
    const size_t rowBytes = size_t(shape->width) * size_t(decoded.bands);
    const size_t decodedRowBytes = size_t(shape->decodedWidth) * size_t(shape->bands);
    // Converted rows go straight to their place; the decoder's own may be a pixel longer, and
    // close up once all are in.
    const size_t intoRowBytes = convert ? rowBytes : decodedRowBytes;
    decoded.bytes.reset(new unsigned char[intoRowBytes * size_t(shape->height)]);

    // Stretches start on whole groups of 16 rows, so that none begins inside a band of rows
    // the decoder makes at once.
    std::vector<int> starts;
    for (int i = 0; i < stretches; ++i)
        starts.push_back(shape->height * i / stretches / 16 * 16);
    starts.push_back(shape->height);
    std::vector<char> fine(size_t(stretches), 0);
    std::vector<std::thread> threads;
    for (int i = 1; i < stretches; ++i)
        threads.emplace_back([&, i] {
            fine[size_t(i)] = decodeRows(file.c_str(), shrink, starts[size_t(i)], starts[size_t(i) + 1],
                decoded.bytes.get(), intoRowBytes, convert, *shape, decodedRowBytes);
        });
    fine[0] = decodeRows(
        file.c_str(), shrink, 0, starts[1], decoded.bytes.get(), intoRowBytes, convert, *shape, decodedRowBytes);
    for (auto& thread : threads)
        thread.join();
    for (char ok : fine)
        if (!ok)
            return std::nullopt;
    if (intoRowBytes != rowBytes)
        for (int y = 1; y < shape->height; ++y)
            std::memmove(decoded.bytes.get() + size_t(y) * rowBytes, decoded.bytes.get() + size_t(y) * decodedRowBytes,
                rowBytes);
    return decoded;
}

std::optional<double> wholeCoefficientBytes(const std::filesystem::path& file)
{
    std::optional<double> bytes;
    withDecoder(
        file.c_str(), 1,
        [&bytes](jpeg_decompress_struct& info) {
            if (!jpeg_has_multiple_scans(&info))
                return false;
            // The decoder's whole-picture buffer: each component's blocks, rounded up to its
            // sampling factors, of 64 coefficients each.
            const auto roundUp = [](double blocks, int factor) { return std::ceil(blocks / factor) * factor; };
            double total = 0;
            for (int i = 0; i < info.num_components; ++i) {
                const auto& component = info.comp_info[i];
                total += roundUp(component.width_in_blocks, component.h_samp_factor)
                    * roundUp(component.height_in_blocks, component.v_samp_factor) * DCTSIZE2 * sizeof(JCOEF);
            }
            bytes = total;
            return true;
        },
        true);
    return bytes;
}

}
