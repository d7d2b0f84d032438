#include "core/base/conversion_error.h"

#include "core/base/error_causes.h"

#include <filesystem>

std::string ConversionError::describe(Kind kind, const std::string& message)
{
    switch (kind) {
    case Kind::ffmpeg: return message.empty() ? "O ffmpeg falhou." : message;
    case Kind::unreadable: return "Não foi possível ler o arquivo.";
    case Kind::writeFailed: return "Não foi possível salvar o arquivo convertido.";
    case Kind::ffmpegMissing: return "O motor de vídeo do Brivlon está faltando. Reinstale o app.";
    case Kind::unsupported: return "Conversão não suportada.";
    }
    return {};
}

std::string describeError(const std::exception& error)
{
    // The causes a user can act on get the same sentence wherever the system reported them.
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        if (ErrorCauses::isDiskFull(system->code()))
            return ErrorCauses::diskFull;
        if (system->code() == std::errc::illegal_byte_sequence)
            return ErrorCauses::notUtf8;
    }
    if (const auto* filesystem = dynamic_cast<const std::filesystem::filesystem_error*>(&error))
        return filesystem->code().message();
    return error.what();
}
