#include "core/base/conversion_error.h"

#include "core/base/error_causes.h"
#include "core/base/file_safety.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

std::string ConversionError::describe(Kind kind, const std::string& message)
{
    switch (kind) {
    case Kind::ffmpeg: return message.empty() ? "O ffmpeg falhou." : message;
    case Kind::unreadable: return ErrorCauses::unreadable;
    case Kind::writeFailed: return "Não foi possível salvar o arquivo convertido.";
    case Kind::ffmpegMissing: return "O motor de vídeo do Brivlon está faltando. Reinstale o app.";
    case Kind::unsupported: return "Conversão não suportada.";
    }
    return {};
}

namespace {

// The system's reasons, said the way the program says everything else; `path` may be empty.
std::string sentence(const std::error_code& code, const std::filesystem::path& path)
{
    const std::string named = path.empty() ? std::string() : " “" + path.filename().string() + "”";
    const std::string where = path.empty() ? std::string() : " (" + path.parent_path().string() + ")";
    if (code.category() == std::generic_category() || code.category() == std::system_category()) {
        switch (code.value()) {
        // A move names its destination: the folder would mislead, the name does not.
        case ENOENT:
        case ENOTDIR: {
            // Writing into a folder that is gone fails the same way as reading a file that is.
            std::error_code ignored;
            const auto folder = path.parent_path();
            if (!folder.empty() && !std::filesystem::is_directory(folder, ignored))
                return "A pasta “" + folder.filename().string() + "” não existe (" + folder.parent_path().string()
                    + ").";
            return "Não foi possível encontrar" + (named.empty() ? " o arquivo" : named) + ".";
        }
        case EACCES:
        case EPERM: return "Sem permissão para usar" + (named.empty() ? " o arquivo" : named) + where + ".";
        case EROFS: return "A pasta" + where + " só pode ser lida; nada pode ser salvo nela.";
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return ErrorCauses::diskFull;
        case EEXIST: return "Já existe um item com o nome" + named + where + ".";
        case ENAMETOOLONG: return "O nome" + named + " é longo demais.";
        case EISDIR: return "“" + path.filename().string() + "” é uma pasta, não um arquivo.";
        case EILSEQ: return ErrorCauses::notUtf8;
        case EMFILE:
        case ENFILE:
        case ENOMEM: return "O sistema está sem recursos livres no momento.";
        }
    }
    return "Não foi possível usar" + (named.empty() ? " o arquivo" : named) + where + ".";
}

}

std::string describeError(const std::exception& error)
{
    // Never the library's English: its wording and prefixes ("filesystem error: …") are for
    // programmers.
    // A hidden name of the program's own (a staging folder beside the outputs) means nothing to
    // the user: the folder it stands in does.
    if (const auto* filesystem = dynamic_cast<const std::filesystem::filesystem_error*>(&error))
        return sentence(filesystem->code(), FileSafety::beforeHidden(filesystem->path1()));
    if (const auto* system = dynamic_cast<const std::system_error*>(&error))
        return sentence(system->code(), {});
    return error.what();
}
