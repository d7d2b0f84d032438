#include "platform/drag_input.h"

#include "platform/x11_drag_input.h"

#include <QGuiApplication>
#include <QUrl>

#include <unistd.h>

#include <climits>
#include <optional>
#include <string>

namespace {

// No X display: no drag is ever seen, so the monitor never fires.
class NullDragInput final : public DragInput {
public:
    bool available() const override { return false; }
    Pointer pointer() override { return {}; }
    long changeCount() override { return 0; }
    bool otherKeyDown() override { return false; }
    std::vector<std::filesystem::path> dragFiles() override { return {}; }
};

bool isLocalHost(const QString& host)
{
    if (host.isEmpty() || host.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    char name[HOST_NAME_MAX + 1] = {};
    return gethostname(name, sizeof name - 1) == 0
        && host.compare(QString::fromLocal8Bit(name), Qt::CaseInsensitive) == 0;
}

std::optional<std::filesystem::path> localFile(std::string_view line)
{
    const QUrl url(QString::fromUtf8(line.data(), qsizetype(line.size())), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != "file" || !isLocalHost(url.host()))
        return std::nullopt;
    // The bytes of the name as they were escaped: a Linux file name need not be UTF-8.
    auto bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8());
    if (!bytes.startsWith('/') || bytes.contains('\0'))
        return std::nullopt;
    // A folder arrives as "dir/"; without the slash it has a file name like any other item.
    while (bytes.size() > 1 && bytes.endsWith('/'))
        bytes.chop(1);
    return std::filesystem::path(bytes.toStdString());
}

}

std::shared_ptr<DragInput> DragInput::null() { return std::make_shared<NullDragInput>(); }

std::shared_ptr<DragInput> DragInput::system()
{
    const auto platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal")
        return null();
    if (auto x11 = X11DragInput::connect())
        return x11;
    return null();
}

namespace UriList {

std::vector<std::filesystem::path> localFiles(std::string_view text)
{
    std::vector<std::filesystem::path> files;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        while (
            !line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t' || line.back() == '\0'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (auto file = localFile(line))
            files.push_back(std::move(*file));
    }
    return files;
}

}
