#include "shell/desktop_entry.h"

#include "core/base/app_paths.h"
#include "core/base/file_safety.h"

#include <QStandardPaths>

#include <fstream>
#include <sstream>

namespace DesktopEntry {

namespace {

// What the program converts from: pictures, clips, sounds, PDFs, documents, tables, subtitles and
// archives, by the names the shared MIME database gives them.
constexpr const char* mimeTypes = "image/png;image/jpeg;image/heic;image/heif;image/webp;image/avif;image/gif;"
                                  "image/tiff;image/bmp;video/mp4;video/quicktime;video/x-matroska;video/webm;"
                                  "video/x-msvideo;audio/mpeg;audio/mp4;audio/x-wav;audio/flac;audio/ogg;"
                                  "audio/aac;application/pdf;text/markdown;text/html;text/plain;text/csv;"
                                  "text/tab-separated-values;application/rtf;application/msword;"
                                  "application/vnd.openxmlformats-officedocument.wordprocessingml.document;"
                                  "application/vnd.oasis.opendocument.text;"
                                  "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet;"
                                  "application/x-subrip;text/vtt;application/zip;application/x-tar;"
                                  "application/gzip;application/x-7z-compressed;application/vnd.rar;";

std::string execOf(const std::string& entry)
{
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Exec=", 0) == 0)
            return line;
    return {};
}

}

std::filesystem::path path()
{
    return std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString())
        / "applications" / "brivlon.desktop";
}

std::string text(const std::filesystem::path& executable)
{
    // Field codes take the executable path as one word; a path with blanks is quoted.
    std::string exec = executable.string();
    if (exec.find(' ') != std::string::npos)
        exec = "\"" + exec + "\"";
    return "[Desktop Entry]\nType=Application\nName=Brivlon\n"
           "Comment=Converta qualquer arquivo sem sair do arraste\n"
           "Exec="
        + exec + " %F\nTerminal=false\nCategories=Utility;\nMimeType=" + mimeTypes + "\nStartupNotify=false\n";
}

bool install(const std::filesystem::path& executable)
{
    const auto file = path();
    const std::string wanted = text(executable);
    std::error_code error;
    if (std::filesystem::exists(file, error)) {
        std::ifstream in(file);
        std::stringstream current;
        current << in.rdbuf();
        if (execOf(current.str()) == execOf(wanted))
            return false;
        // Our own entry from a build elsewhere: it would start the wrong program.
        std::filesystem::remove(file, error);
    }
    std::filesystem::create_directories(file.parent_path(), error);
    try {
        auto fd = FileSafety::createExclusive(file, 0644);
        FileSafety::writeAll(fd.get(), wanted, file);
    } catch (const std::exception&) {
        return false;  // a read-only data folder: the program still runs, only launchers miss it
    }
    return true;
}

}
