#include "core/engines/jpeg_stripes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <cstring>

using namespace TestSupport;
using vips::VImage;

namespace {

// A picture with detail in every block: noise over a gradient, in colour or grey.
VImage detailed(int width, int height, int bands)
{
    auto noise = VImage::gaussnoise(width, height, VImage::option()->set("sigma", 25)->set("mean", 0));
    auto picture = VImage::xyz(width, height).extract_band(0) * (200.0 / width) + noise + 20;
    if (bands == 3)
        picture = picture.bandjoin(picture.flip(VIPS_DIRECTION_VERTICAL)).bandjoin(picture.rot180());
    return picture.cast(VIPS_FORMAT_UCHAR).copy_memory();
}

}

// Every stretch decoded on its own must give the rows that libvips's own decode of the whole
// picture gives, for the layouts JPEG files come in.
TEST(JpegStripes, DecodeAsLibvipsDoes)
{
    TempDir dir;
    struct Case {
        const char* name;
        int width, height, bands;
        std::vector<std::pair<std::string, int>> options;
    };
    const Case cases[] = {
        {"4:4:4", 1001, 777, 3, {{"Q", 92}, {"subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF}}},
        {"4:2:0", 1001, 777, 3, {{"Q", 75}, {"subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON}}},
        {"grey", 640, 1283, 1, {{"Q", 85}}},
        {"restart markers", 800, 600, 3, {{"Q", 80}, {"restart_interval", 7}}},
    };
    for (const auto& c : cases) {
        const auto file = dir / (std::string("picture ") + c.name + ".jpg");
        auto options = VImage::option();
        for (const auto& [name, value] : c.options)
            options->set(name.c_str(), value);
        detailed(c.width, c.height, c.bands).jpegsave(file.c_str(), options);
        for (int shrink : {1, 2, 4, 8}) {
            const auto expected = VImage::new_from_file(file.c_str(), VImage::option()->set("shrink", shrink));
            size_t size = 0;
            std::unique_ptr<void, decltype(&g_free)> bytes(expected.write_to_memory(&size), g_free);
            for (int stretches : {1, 3, 7}) {
                const auto decoded = JpegStripes::decode(file, shrink, stretches);
                ASSERT_TRUE(decoded) << c.name;
                ASSERT_EQ(decoded->width, expected.width());
                ASSERT_EQ(decoded->height, expected.height());
                ASSERT_EQ(decoded->bands, expected.bands());
                EXPECT_EQ(std::memcmp(decoded->bytes.get(), bytes.get(), size), 0)
                    << c.name << ", shrink " << shrink << ", " << stretches << " stretches";
                // Converted as they come, the rows give what converting the whole decode gives:
                // here the first band, one up.
                const auto converted = JpegStripes::decode(file, shrink, stretches,
                    [&](const unsigned char* from, size_t fromStride, int bands, unsigned char* to, size_t toStride,
                        int width, int count) {
                        for (int y = 0; y < count; ++y)
                            for (int x = 0; x < width; ++x)
                                to[size_t(y) * toStride + size_t(x)]
                                    = static_cast<unsigned char>(from[size_t(y) * fromStride + size_t(x * bands)] + 1);
                    }, 1);
                ASSERT_TRUE(converted);
                ASSERT_EQ(converted->bands, 1);
                const auto* whole = static_cast<const unsigned char*>(bytes.get());
                for (size_t i = 0; i < size_t(expected.width()) * size_t(expected.height()); ++i)
                    ASSERT_EQ(converted->bytes[i], static_cast<unsigned char>(whole[i * size_t(c.bands)] + 1))
                        << c.name << ", shrink " << shrink << ", " << stretches << " stretches, sample " << i;
            }
        }
    }

    // What it leaves to libvips: progressive files, and files the decoder complains about.
    const auto progressive = dir / "progressive.jpg";
    detailed(300, 200, 3).jpegsave(progressive.c_str(), VImage::option()->set("interlace", true));
    EXPECT_FALSE(JpegStripes::decode(progressive, 2, 3));
    const auto whole = readFile(dir / "picture 4:4:4.jpg");
    writeFile(dir / "cut.jpg", whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(JpegStripes::decode(dir / "cut.jpg", 2, 3));
    EXPECT_FALSE(JpegStripes::decode(dir / "missing.jpg", 2, 3));
}
