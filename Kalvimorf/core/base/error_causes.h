#pragma once

// What a failed tool's standard error means for the user. Tools print their cause somewhere in
// the middle and then lines of their own giving up ("Error exit delayed from previous errors.",
// "Conversion failed!"), so the last line is rarely the one that says why. The first line that
// names a known cause picks a Portuguese sentence; the raw line goes to the error log.

#include "core/base/conversion_error.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace ErrorCauses {

inline constexpr const char* diskFull = "Não há espaço livre no disco.";
inline constexpr const char* damaged = "O arquivo está danificado ou incompleto.";
inline constexpr const char* password = "O arquivo está protegido por senha.";
inline constexpr const char* archiveTooLarge = "O arquivo compactado é grande demais para abrir.";
inline constexpr const char* unsupportedCodec = "O arquivo usa um formato interno que não é suportado.";
inline constexpr const char* unsafeEntry = "O arquivo compactado tem entradas que sairiam da pasta de destino.";
inline constexpr const char* notUtf8 = "O texto do arquivo não está numa codificação reconhecida.";
inline constexpr const char* noVideo = "O arquivo não tem vídeo.";
inline constexpr const char* noAudio = "O arquivo não tem áudio.";
inline constexpr const char* unreadable = "Não foi possível ler o arquivo.";
// A picture whose decoding would take more than the system has free.
inline constexpr const char* pictureBeyondFreeMemory = "A imagem é grande demais para converter com a memória livre.";
// A trim or a cut with no range left to keep.
inline constexpr const char* noRange = "Nenhum trecho selecionado.";
// A job that ended without saying why (an exception of no known kind, a worker's garbled answer).
inline constexpr const char* unexpected = "Erro inesperado.";
// A job that reached the memory every job is given (JobBudget::bytes).
inline constexpr const char* tooMuchMemory = "O arquivo precisa de mais memória do que uma conversão pode usar.";

enum class Cause {
    diskFull,
    noStream,
    password,
    damaged,
    unsupportedCodec,
    unsafeEntry,
    tooLarge,
    notUtf8,
    unreadable
};

// The cause one line of a tool's standard error names, if it names one.
std::optional<Cause> causeOf(std::string_view line);

// The sentences that depend on what was being made.
struct Sentences {
    std::string noStream = unreadable;  // "O arquivo não tem vídeo." for a video output …
    std::string tooLarge = archiveTooLarge;
    // Archivers end their own complaints with whatever error number the C library last held,
    // often this one: for them it says nothing about any text.
    std::string notUtf8 = ErrorCauses::notUtf8;
    std::string fallback;  // when no line names a cause; empty: the tool's last line
};

std::string sentenceFor(Cause cause, const Sentences& sentences);

// The first line of `errorText` that names a cause, as its sentence; else the fallback. Adds the
// raw line ("<tool>: <line>") to the error log whenever the user is shown something else.
std::string explain(std::string_view errorText, const std::string& executable, const Sentences& sentences = {});

// A failed write as the user reads it: a full disk says so, anything else could not be saved.
ConversionError writeFailure(const std::system_error& error);
bool isDiskFull(const std::error_code& code);

// The same as the error of a failed run.
ConversionError failure(std::string_view errorText, const std::string& executable, const Sentences& sentences = {});

}
