#include "platform/drag_input.h"

#include "platform/x11_drag_input.h"

#include <QGuiApplication>

#include <unistd.h>

#include <algorithm>
#include <cctype>
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

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool isLocalHost(std::string_view host)
{
    if (host.empty() || equalsIgnoringCase(host, "localhost"))
        return true;
    char name[HOST_NAME_MAX + 1] = {};
    return gethostname(name, sizeof name - 1) == 0 && equalsIgnoringCase(host, name);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Nothing for a broken escape or an escaped NUL, which no path can hold.
std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<std::filesystem::path> localFile(std::string_view url)
{
    constexpr std::string_view scheme = "file:";
    if (url.size() < scheme.size() || !equalsIgnoringCase(url.substr(0, scheme.size()), scheme))
        return std::nullopt;
    auto rest = url.substr(scheme.size());
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto slash = rest.find('/');
        if (slash == std::string_view::npos || !isLocalHost(rest.substr(0, slash)))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    rest = rest.substr(0, rest.find_first_of("?#"));
    // A raw NUL would cut the name short where the system reads it, naming another file.
    if (!rest.starts_with('/') || rest.find('\0') != std::string_view::npos)
        return std::nullopt;
    auto decoded = percentDecoded(rest);
    if (!decoded)
        return std::nullopt;
    // A folder arrives as "dir/"; without the slash it has a file name like any other item.
    while (decoded->size() > 1 && decoded->back() == '/')
        decoded->pop_back();
    return std::filesystem::path(*decoded);
}

}

std::shared_ptr<DragInput> DragInput::null()
{
    return std::make_shared<NullDragInput>();
}

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
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t' || line.back() == '\0'))
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
