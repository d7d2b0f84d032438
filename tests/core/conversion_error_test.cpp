#include "core/base/conversion_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace TestSupport;

namespace {

std::string described(int code, const fs::path& path)
{
    return describeError(fs::filesystem_error("ignored", path, std::error_code(code, std::generic_category())));
}

TEST(DescribeError, SystemFailuresBecomeSentencesNamingTheItem)
{
    TempDir dir;
    fs::create_directories(dir / "fotos");
    // Reading a file that is gone, and writing into a folder that is gone, fail alike; the
    // sentence tells which.
    EXPECT_EQ(described(ENOENT, dir / "fotos/a.png"), "Não foi possível encontrar “a.png”.");
    EXPECT_EQ(described(ENOENT, dir / "sumiu/a.png"), "A pasta “sumiu” não existe (" + dir.path().string() + ").");
    EXPECT_EQ(
        described(EACCES, dir / "fotos/a.png"), "Sem permissão para usar “a.png” (" + (dir / "fotos").string() + ").");
    EXPECT_EQ(described(ENOSPC, dir / "fotos/a.png"), "Não há espaço livre no disco.");
    // A staging folder of the program's own is the folder it stands in.
    EXPECT_EQ(described(EACCES, dir / "fotos/.kalvimorf-3f2a/pacote.zip"),
        "Sem permissão para usar “fotos” (" + dir.path().string() + ").");
    // Whatever the reason, never the library's English or its prefixes.
    for (int code : {ENOENT, EACCES, EPERM, EROFS, ENOSPC, EEXIST, ENAMETOOLONG, EISDIR, EIO, ELOOP, EXDEV}) {
        const auto sentence = described(code, dir / "fotos/a.png");
        EXPECT_EQ(sentence.find(std::error_code(code, std::generic_category()).message()), std::string::npos) << code;
        EXPECT_EQ(sentence.find("filesystem"), std::string::npos) << code;
        EXPECT_TRUE(sentence.ends_with(".")) << code;
    }
    EXPECT_EQ(describeError(std::system_error(EILSEQ, std::generic_category(), "/x/legenda.srt")),
        "O texto do arquivo não está numa codificação reconhecida.");
    EXPECT_EQ(describeError(ConversionError::writeFailed()), "Não foi possível salvar o arquivo convertido.");
}

}
