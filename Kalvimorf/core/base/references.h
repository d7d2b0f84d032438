#pragma once

// What a document's reference to a picture or a style sheet may reach: a file in the document's
// own folder or below it, or the bytes its address carries. Anything else is a missing picture,
// so that a page or a drawing never pulls in a file the user did not hand over with it.

#include <QByteArray>
#include <QUrl>

#include <filesystem>
#include <optional>

namespace References {

// The file `named` leads to, links followed, when it lies in `root` (a folder with its links
// already followed) or below it.
std::optional<std::filesystem::path> fileWithin(const std::filesystem::path& named, const std::filesystem::path& root);

// The bytes a data: address carries, in base64 or percent-encoded; nothing for any other address.
std::optional<QByteArray> dataAddress(const QUrl& url);

}
