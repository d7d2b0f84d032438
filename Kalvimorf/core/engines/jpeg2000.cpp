#include "core/engines/jpeg2000.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"

#include <openjpeg.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstring>
#include <memory>

using vips::VImage;

namespace Jpeg2000 {

namespace {

// A high-throughput codestream says so in its capabilities (Rsiz bit 14, with a CAP marker).
constexpr unsigned highThroughputCapability = 0x4000;

// What a whole decode holds a sample beyond the picture it gives: OpenJPEG's 32-bit sample (a
// single tile's is handed over, not copied) and the code blocks' buffers. A 9-megapixel RGB file
// took 133 MiB above the program's own, 4.9 bytes a sample with the PNG written.
constexpr double decoderBytesPerSample = 5;

struct Source {
    std::string_view bytes;
    size_t at = 0;
};

OPJ_SIZE_T readFrom(void* buffer, OPJ_SIZE_T wanted, void* data)
{
    auto& source = *static_cast<Source*>(data);
    if (source.at >= source.bytes.size())
        return OPJ_SIZE_T(-1);
    const size_t given = std::min(size_t(wanted), source.bytes.size() - source.at);
    std::memcpy(buffer, source.bytes.data() + source.at, given);
    source.at += given;
    return given;
}

OPJ_OFF_T skipIn(OPJ_OFF_T distance, void* data)
{
    auto& source = *static_cast<Source*>(data);
    const auto at = OPJ_OFF_T(source.at), size = OPJ_OFF_T(source.bytes.size());
    if ((distance < 0 && at == 0) || (distance > 0 && at == size))
        return -1;
    const OPJ_OFF_T moved = std::clamp(at + distance, OPJ_OFF_T(0), size) - at;
    source.at = size_t(at + moved);
    return moved;
}

OPJ_BOOL seekTo(OPJ_OFF_T position, void* data)
{
    auto& source = *static_cast<Source*>(data);
    if (position < 0 || position > OPJ_OFF_T(source.bytes.size()))
        return OPJ_FALSE;
    source.at = size_t(position);
    return OPJ_TRUE;
}

void quiet(const char*, void*) { }

uint32_t big(std::string_view bytes, size_t at, int size)
{
    uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

// The contents of the first box named `name` among the boxes that `boxes` holds one after another.
std::optional<std::string_view> boxIn(std::string_view boxes, std::string_view name)
{
    for (size_t at = 0; at + 8 <= boxes.size();) {
        uint64_t length = big(boxes, at, 4);
        size_t header = 8;
        if (length == 1 && at + 16 <= boxes.size()) {
            length = uint64_t(big(boxes, at + 8, 4)) << 32 | big(boxes, at + 12, 4);
            header = 16;
        } else if (length == 0) {
            length = boxes.size() - at;
        }
        if (length < header || length > boxes.size() - at)
            return std::nullopt;
        if (boxes.substr(at + 4, 4) == name)
            return boxes.substr(at + header, size_t(length) - header);
        at += size_t(length);
    }
    return std::nullopt;
}

// Where the codestream starts: at once, or in a JP2 file's "jp2c" box.
std::optional<size_t> codestreamAt(std::string_view file)
{
    if (file.substr(0, 4) == "\xff\x4f\xff\x51")
        return 0;
    const auto codestream = boxIn(file, "jp2c");
    return codestream ? std::optional(size_t(codestream->data() - file.data())) : std::nullopt;
}

// How many components a JP2 file's palette makes of its indices; nothing without a palette.
// OpenJPEG applies it as it decodes, after the header told of one component.
std::optional<int> paletteColumns(std::string_view file)
{
    const auto header = boxIn(file, "jp2h");
    const auto palette = header ? boxIn(*header, "pclr") : std::nullopt;
    if (!palette)
        return std::nullopt;
    return palette->size() >= 3 ? int(uint8_t((*palette)[2])) : 0;
}

// OpenJPEG's codec and stream are both void pointers: a deleter each.
struct ClosingCodec {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct ClosingStream {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ClosingImage {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

void freeSamples(VipsImage*, gpointer samples) { g_free(samples); }

// Interleaved samples of `bits` (8 or 16) from the decoder's planes of any precision.
template <typename Sample> Sample* interleaved(const opj_image_t& image, size_t pixels)
{
    const int bands = int(image.numcomps);
    auto* samples = static_cast<Sample*>(g_try_malloc(pixels * size_t(bands) * sizeof(Sample)));
    if (!samples)
        throw ConversionError::because(ErrorCauses::pictureBeyondFreeMemory);
    constexpr double most = sizeof(Sample) == 1 ? 255.0 : 65535.0;
    for (int band = 0; band < bands; ++band) {
        const auto& component = image.comps[band];
        const int64_t offset = component.sgnd ? int64_t(1) << (component.prec - 1) : 0;
        const int64_t top = (int64_t(1) << component.prec) - 1;
        const double scale = most / double(top);
        for (size_t i = 0; i < pixels; ++i) {
            const int64_t value = std::clamp(int64_t(component.data[i]) + offset, int64_t(0), top);
            samples[i * size_t(bands) + size_t(band)] = Sample(double(value) * scale + 0.5);
        }
    }
    return samples;
}

// Grey or RGB, with or without alpha, every component of the picture's size and precision. A
// palette's colours count as RGB whatever space the file names.
bool plain(const opj_image_t& image)
{
    const int bands = int(image.numcomps);
    if (bands < 1 || bands > 4
        || !(image.color_space == OPJ_CLRSPC_UNKNOWN || image.color_space == OPJ_CLRSPC_UNSPECIFIED
            || image.color_space == OPJ_CLRSPC_SRGB || image.color_space == OPJ_CLRSPC_GRAY))
        return false;
    for (int band = 0; band < bands; ++band) {
        const auto& component = image.comps[band];
        if (component.dx != 1 || component.dy != 1 || component.prec < 1 || component.prec > 16
            || component.prec != image.comps[0].prec)
            return false;
    }
    return true;
}

// OpenJPEG's high-throughput decoder asserts on some damaged code blocks, and Debian builds it
// with its assertions on: such a file would end the whole job's process, and the user would read
// that the converter stopped instead of what is wrong with the file. It decodes in a child of
// its own, which hands the interleaved samples (`bytes` of them) back through shared memory.
template <typename Decode> void* decodedApart(Decode&& decode, size_t bytes)
{
    void* shared = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED)
        throw ConversionError::unreadable();
    const pid_t child = ::fork();
    if (child == 0) {
        // The assertion ends this child alone, quietly: a handler of the parent's (a crash
        // reporter, a fuzzer's) would take it for the parent's own crash.
        ::signal(SIGABRT, SIG_DFL);
        int code = 1;
        try {
            if (void* samples = decode()) {
                std::memcpy(shared, samples, bytes);
                code = 0;
            }
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    void* samples = nullptr;
    if (child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        samples = g_malloc(bytes);
        std::memcpy(samples, shared, bytes);
    }
    ::munmap(shared, bytes);
    if (!samples)
        throw ConversionError::because(ErrorCauses::damaged);
    return samples;
}

bool highThroughput(std::string_view file)
{
    const auto at = codestreamAt(file);
    // SOC, then SIZ: its marker, its length, and the capabilities.
    return at && *at + 8 <= file.size() && file.substr(*at, 4) == "\xff\x4f\xff\x51"
        && (big(file, *at + 6, 2) & highThroughputCapability);
}

}

std::optional<VImage> decode(std::string_view file)
{
    const bool bare = file.substr(0, 4) == "\xff\x4f\xff\x51";
    // What only a whole decode reads right: the library's reader gave a high-throughput
    // codestream as grey, and wrote a palette's colours past the one band it had made room for.
    // The columns of a palette, -1 without one (an optional here lost its value to GCC's flow
    // analysis across the decoder's calls).
    const int palette = bare ? -1 : paletteColumns(file).value_or(-1);
    const bool wholeOnly = highThroughput(file) || palette >= 0;
    std::unique_ptr<opj_codec_t, ClosingCodec> codec(opj_create_decompress(bare ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    Source source{file};
    std::unique_ptr<opj_stream_t, ClosingStream> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!codec || !stream)
        throw ConversionError::unreadable();
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), file.size());
    opj_stream_set_read_function(stream.get(), readFrom);
    opj_stream_set_skip_function(stream.get(), skipIn);
    opj_stream_set_seek_function(stream.get(), seekTo);
    // What it says goes nowhere: a failure is told by its result.
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* read = nullptr;
    if (!opj_setup_decoder(codec.get(), &parameters) || !opj_read_header(stream.get(), codec.get(), &read))
        throw ConversionError::because(ErrorCauses::damaged);
    std::unique_ptr<opj_image_t, ClosingImage> image(read);
    if (!image || image->numcomps < 1)
        throw ConversionError::because(ErrorCauses::damaged);
    const auto& first = image->comps[0];
    if (!plain(*image) || palette == 0 || palette > 4) {
        if (wholeOnly)
            throw ConversionError::unreadable();
        return std::nullopt;
    }
    const double width = double(image->x1) - image->x0, height = double(image->y1) - image->y0;
    ImageEngine::requirePixels(width, height);
    // A palette's colours may be of more bits than its indices.
    const int mostSampleBytes = first.prec > 8 || palette >= 0 ? 2 : 1;
    const int decodedBands = std::max(int(image->numcomps), palette);
    try {
        ImageEngine::requireHeld(width * height, decodedBands * (decoderBytesPerSample + mostSampleBytes));
    } catch (const ConversionError&) {
        if (wholeOnly)
            throw;
        return std::nullopt;  // decoded in windows by the library's reader instead
    }
    const size_t pixels = size_t(width) * size_t(height);
    int bands = 0, sampleBytes = 0;
    // The samples interleaved, or nothing when the decode gave what a plain picture does not.
    const auto decodeHere = [&]() -> void* {
        if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
            throw ConversionError::because(ErrorCauses::damaged);
        // A palette or a channel map of a JP2 file is applied as it decodes, which may change the
        // components the header told of.
        if (!plain(*image) || int(image->numcomps) > decodedBands) {
            if (wholeOnly)
                throw ConversionError::unreadable();
            return nullptr;
        }
        bands = int(image->numcomps);
        sampleBytes = image->comps[0].prec > 8 ? 2 : 1;
        for (int band = 0; band < bands; ++band) {
            const auto& component = image->comps[band];
            if (!component.data || double(component.w) != width || double(component.h) != height)
                throw ConversionError::because(ErrorCauses::damaged);
        }
        return sampleBytes == 1 ? static_cast<void*>(interleaved<uint8_t>(*image, pixels))
                                : static_cast<void*>(interleaved<uint16_t>(*image, pixels));
    };
    void* samples = nullptr;
    if (highThroughput(file)) {
        // Of the shape the header told of, for which the parent made room.
        const int toldBands = int(image->numcomps), toldBytes = first.prec > 8 ? 2 : 1;
        samples = decodedApart(
            [&]() -> void* {
                void* decoded = decodeHere();
                return decoded && bands == toldBands && sampleBytes == toldBytes ? decoded : nullptr;
            },
            pixels * size_t(toldBands) * size_t(toldBytes));
        bands = toldBands;
        sampleBytes = toldBytes;
    } else if (!(samples = decodeHere()))
        return std::nullopt;
    codec.reset();
    stream.reset();

    std::unique_ptr<void, decltype(&g_free)> owned(samples, g_free);
    std::string profile;
    if (image->icc_profile_buf && image->icc_profile_len > 0)
        profile.assign(reinterpret_cast<const char*>(image->icc_profile_buf), image->icc_profile_len);
    image.reset();

    VipsImage* wrapped = vips_image_new_from_memory(samples, pixels * size_t(bands) * size_t(sampleBytes),
        int(width), int(height), bands, sampleBytes == 1 ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT);
    if (!wrapped)
        throw ConversionError::unreadable();
    // From here the samples belong to the image, which frees them when it closes.
    g_signal_connect(wrapped, "postclose", G_CALLBACK(freeSamples), owned.release());
    const auto space = bands >= 3 ? (sampleBytes == 1 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_RGB16)
                                  : (sampleBytes == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_GREY16);
    VImage picture = VImage(wrapped).copy(VImage::option()->set("interpretation", space));
    if (!profile.empty())
        vips_image_set_blob_copy(picture.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.size());
    return picture;
}

}
