#include "core/catalog.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using TestSupport::TempDir;

namespace {

std::vector<std::string> labels(const std::optional<CatalogOptions>& options)
{
    std::vector<std::string> result;
    if (options)
        for (const auto& format : options->formats)
            result.push_back(format.label + (format.batch ? "*" : ""));
    return result;
}

}

TEST(Catalog, KeysAndKindsByName)
{
    struct Row {
        const char* name;
        const char* key;
        MediaKind kind;
    };
    const Row rows[] = {
        {"Photo.JPEG", "jpg", MediaKind::image},      {"backup.TAR.BZ2", "tbz", MediaKind::archive},
        {"x.tar.gz", "tgz", MediaKind::archive},       {"x.tar.xz", "txz", MediaKind::archive},
        {"notes.txt", "txt", MediaKind::document},     {"clip.ts", "ts", MediaKind::video},
        {"anim.gif", "gif", MediaKind::image},         {"song.AIF", "aiff", MediaKind::audio},
        {"page.htm", "html", MediaKind::document},     {"read.markdown", "md", MediaKind::document},
        {"subs.vtt", "vtt", MediaKind::subtitle},      {"sheet.tsv", "tsv", MediaKind::spreadsheet},
        {"doc.PDF", "pdf", MediaKind::pdf},            {"pic.tif", "tiff", MediaKind::image},
        {"voice.oga", "ogg", MediaKind::audio},        {"phone.heif", "heic", MediaKind::image},
        {"a.tbz2", "tbz", MediaKind::archive},         {"data.bin", "bin", MediaKind::other},
        {"README", "", MediaKind::other},              {"strange.qqzz", "qqzz", MediaKind::other},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Catalog::normalizedExt(row.name), row.key);
        EXPECT_EQ(Catalog::kind(fs::path("/nonexistent") / row.name), row.kind);
    }
}

TEST(Catalog, FoldersTakeExtensionKindsFirst)
{
    TempDir dir;
    fs::create_directories(dir / "photos");
    fs::create_directories(dir / "photos.zip");
    EXPECT_EQ(Catalog::kind(dir / "photos"), MediaKind::folder);
    EXPECT_EQ(Catalog::kind(dir / "photos.zip"), MediaKind::archive);
    // Kind archive, but key "/": all four archive formats stay.
    EXPECT_EQ(labels(Catalog::options({dir / "photos.zip"})),
              (std::vector<std::string>{"ZIP", "TAR", "TAR.GZ", "EXTRAIR"}));
    EXPECT_EQ(labels(Catalog::options({dir / "photos"})), (std::vector<std::string>{"ZIP*", "TAR*", "TAR.GZ*"}));
    EXPECT_EQ(labels(Catalog::options({dir / "photos", dir / "photos"})),
              (std::vector<std::string>{"ZIP*", "TAR*", "TAR.GZ*"}));
}

TEST(Catalog, OptionsForSelections)
{
    using V = std::vector<std::string>;
    struct Row {
        std::vector<fs::path> urls;
        V expected;
        bool answered = true;
    };
    const Row rows[] = {
        {{"/x/a.png"}, {"JPG", "HEIC", "WEBP", "AVIF", "TIFF", "BMP", "GIF", "PDF"}},
        {{"/x/a.png", "/x/b.png"}, {"JPG", "HEIC", "WEBP", "AVIF", "TIFF", "BMP", "GIF", "PDF", "PDF ÚNICO*"}},
        {{"/x/a.png", "/x/b.jpeg"}, {"JPG", "PNG", "HEIC", "WEBP", "AVIF", "TIFF", "BMP", "GIF", "PDF", "PDF ÚNICO*"}},
        {{"/x/a.pdf"}, {"PNG", "JPG", "TXT", "DOCX"}},
        {{"/x/a.pdf", "/x/b.pdf"}, {"PNG", "JPG", "TXT", "DOCX", "PDF ÚNICO*"}},
        {{"/x/a.zip"}, {"TAR", "TAR.GZ", "EXTRAIR"}},
        {{"/x/a.tar.gz"}, {"ZIP", "TAR", "EXTRAIR"}},
        {{"/x/a.mp4"}, {"MOV", "MKV", "WEBM", "AVI", "GIF", "MP3", "M4A"}},
        {{"/x/a.wav"}, {"MP3", "M4A", "FLAC", "OGG", "OPUS", "AIFF"}},
        {{"/x/a.srt"}, {"VTT", "TXT"}},
        {{"/x/a.csv"}, {"XLSX", "TSV"}},
        {{"/x/a.md"}, {"DOCX", "PDF", "ODT", "RTF", "HTML", "TXT"}},
        {{"/x/a.bin", "/x/b.bin"}, {"ZIP*", "TAR*", "TAR.GZ*"}},
        {{"/x/a.bin", "/x/b.dat"}, {}, false},
        {{"/x/a.mp4", "/x/b.mp3"}, {}, false},
        {{}, {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.urls.empty() ? std::string("(empty)") : row.urls.front().string());
        auto options = Catalog::options(row.urls);
        EXPECT_EQ(options.has_value(), row.answered);
        EXPECT_EQ(labels(options), row.expected);
    }
    EXPECT_EQ(Catalog::options({"/x/a.zip"})->formats[1].ext, "tgz");
    EXPECT_EQ(Catalog::options({"/x/a.zip"})->formats[2].ext, "");
}

TEST(Catalog, FormatIdentity)
{
    OutputFormat a{"pdf", "PDF", false};
    OutputFormat b{"pdf", "PDF ÚNICO", true};
    EXPECT_NE(a, b);
    EXPECT_EQ(a, (OutputFormat{"pdf", "PDF", false}));
    EXPECT_NE(a, (OutputFormat{"pdf", "PDF", true}));
    EXPECT_EQ(b.id(), "PDF ÚNICO");
    EXPECT_EQ(Catalog::fmts({"tgz", "jpg"}), (std::vector<OutputFormat>{{"tgz", "TAR.GZ", false}, {"jpg", "JPG", false}}));
    EXPECT_TRUE(Catalog::fmts({}).empty());
}

TEST(Catalog, DescribeAndDistinctFormats)
{
    EXPECT_EQ(Catalog::describe({"/x/a.png"}), "a.png");
    EXPECT_EQ(Catalog::describe({"/x/a.png", "/x/b.png"}), "2 imagens");
    EXPECT_EQ(Catalog::describe({"/x/a.png", "/x/b.mp4"}), "2 arquivos");
    EXPECT_EQ(Catalog::describe({}), "0 arquivos");
    EXPECT_EQ(Catalog::describe({"/x/a.zip", "/x/b.rar", "/x/c.7z"}), "3 arquivos compactados");
    EXPECT_EQ(MediaKinds::plural(MediaKind::pdf, 0), "PDFs");
    EXPECT_EQ(MediaKinds::plural(MediaKind::video, 1), "vídeo");

    TempDir dir;
    fs::create_directories(dir / "folder");
    EXPECT_EQ(Catalog::distinctFormats({dir / "a.jpeg", dir / "b.JPG", dir / "folder"}),
              (std::vector<std::string>{"JPG", "pasta"}));
}

TEST(Catalog, SortedLikeAFileManager)
{
    const std::vector<fs::path> input = {"/b/img10.png", "/a/img2.png", "/c/Img1.png", "/d/img2.png", "/e/apple.png"};
    const std::vector<fs::path> expected = {"/e/apple.png", "/c/Img1.png", "/a/img2.png", "/d/img2.png",
                                            "/b/img10.png"};
    EXPECT_EQ(Catalog::sorted(input), expected);
}

TEST(Catalog, RawValuesAreExact)
{
    EXPECT_EQ(MediaKinds::fromRaw("spreadsheet"), MediaKind::spreadsheet);
    EXPECT_FALSE(MediaKinds::fromRaw("Image").has_value());
    EXPECT_EQ(Catalog::normalize("JPE"), "jpg");
    EXPECT_EQ(Catalog::normalize("WeIrD"), "weird");
}
