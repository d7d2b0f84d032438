#include "core/base/catalog.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using TestSupport::TempDir;

namespace {

// "LABEL" for a per-file format, "LABEL*" for a batch one.
std::string labels(const std::optional<CatalogOptions>& options)
{
    std::string result = options ? "" : "(none)";
    for (const auto& format : options ? options->formats : std::vector<OutputFormat>{})
        result += (result.empty() ? "" : " ") + format.label + (format.batch ? "*" : "");
    return result;
}

TEST(Catalog, KeysAndKindsByName)
{
    const std::tuple<const char*, const char*, MediaKind> rows[] = {
        {"Photo.JPEG", "jpg", MediaKind::image},
        {"backup.TAR.BZ2", "tbz", MediaKind::archive},
        {"x.tar.xz", "txz", MediaKind::archive},
        {"notes.txt", "txt", MediaKind::document},
        {"clip.ts", "ts", MediaKind::video},
        {"anim.gif", "gif", MediaKind::image},
        {"song.AIF", "aiff", MediaKind::audio},
        {"a.tbz2", "tbz", MediaKind::archive},
        {"README", "", MediaKind::other},
        {"strange.qqzz", "qqzz", MediaKind::other},
        // Pictures by their reader, not by what the MIME database calls an image.
        {"IMG_0001.CR2", "cr2", MediaKind::image},
        {"scan.jp2", "jp2", MediaKind::image},
        {"logo.svgz", "svgz", MediaKind::image},
        {"camadas.psd", "psd", MediaKind::other},
        {"cena.exr", "exr", MediaKind::other},
    };
    for (const auto& [name, key, kind] : rows) {
        EXPECT_EQ(Catalog::normalizedExt(name), key) << name;
        EXPECT_EQ(Catalog::kind(fs::path("/nonexistent") / name), kind) << name;
    }
}

TEST(Catalog, OptionsDropTheInputsOwnFormatAndAddTheMergeForSeveral)
{
    const std::pair<std::vector<fs::path>, const char*> rows[] = {
        {{"/x/a.png"}, "JPG HEIC WEBP AVIF TIFF BMP GIF PDF"},
        {{"/x/a.png", "/x/b.png"}, "JPG HEIC WEBP AVIF TIFF BMP GIF PDF PDF ÚNICO*"},
        {{"/x/a.png", "/x/b.jpeg"}, "JPG PNG HEIC WEBP AVIF TIFF BMP GIF PDF PDF ÚNICO*"},
        {{"/x/a.pdf", "/x/b.pdf"}, "PNG JPG TXT DOCX PDF ÚNICO*"},
        {{"/x/a.zip"}, "TAR TAR.GZ EXTRAIR"},
        {{"/x/a.tar.gz"}, "ZIP TAR EXTRAIR"},
        {{"/x/a.bin", "/x/b.bin"}, "ZIP* TAR* TAR.GZ*"},
        {{"/x/a.bin", "/x/b.dat"}, "(none)"},
        {{"/x/a.mp4", "/x/b.mp3"}, "(none)"},
        {{}, "(none)"},
    };
    for (const auto& [urls, expected] : rows)
        EXPECT_EQ(labels(Catalog::options(urls)), expected) << (urls.empty() ? "" : urls.front());

    TempDir dir;
    fs::create_directories(dir / "photos");
    fs::create_directories(dir / "photos.zip");
    // A folder is packed, whatever its name: nothing in it can be extracted.
    EXPECT_EQ(Catalog::kind(dir / "photos.zip"), MediaKind::folder);
    EXPECT_EQ(labels(Catalog::options({dir / "photos.zip"})), "ZIP* TAR* TAR.GZ*");
    EXPECT_EQ(labels(Catalog::options({dir / "photos.zip", dir / "photos"})), "ZIP* TAR* TAR.GZ*");
    EXPECT_EQ(labels(Catalog::options({dir / "photos", dir / "photos"})), "ZIP* TAR* TAR.GZ*");
}

TEST(Catalog, DescribeDistinctFormatsAndFileManagerOrder)
{
    EXPECT_EQ(Catalog::describe({"/x/a.png"}), "a.png");
    EXPECT_EQ(Catalog::describe({"/x/a.png", "/x/b.png"}), "2 imagens");
    EXPECT_EQ(Catalog::describe({"/x/a.png", "/x/b.mp4"}), "2 arquivos");
    EXPECT_EQ(Catalog::describe({}), "0 arquivos");
    TempDir dir;
    fs::create_directories(dir / "folder");
    EXPECT_EQ(Catalog::distinctFormats({dir / "a.jpeg", dir / "b.JPG", dir / "folder"}),
        (std::vector<std::string>{"JPG", "pasta"}));
    const std::vector<fs::path> input = {"/b/img10.png", "/a/img2.png", "/c/Img1.png", "/d/img2.png", "/e/apple.png"};
    EXPECT_EQ(Catalog::sorted(input),
        (std::vector<fs::path>{"/e/apple.png", "/c/Img1.png", "/a/img2.png", "/d/img2.png", "/b/img10.png"}));
}

}
