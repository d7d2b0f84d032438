#pragma once

// The pictures a drawing (SVG) names, settled before the drawing reaches the renderer. Left to
// it, Qt's renderer reads an <image> by whatever path it holds: an absolute one anywhere the
// user can read, a relative one against the program's working folder, a FIFO until the job is
// taken as hung. Here each reference is resolved against the drawing's own folder; a regular
// file in that folder or below, links followed, is put into the drawing as a data address, and
// anything else (outside, not a regular file, unreadable, a network address) is left out: the
// drawing shows it as a missing picture. A drawing a picture carries as data is settled the same
// way, since the renderer would read its references too.

#include <QByteArray>

#include <filesystem>

namespace DrawingPictures {

QByteArray settle(const QByteArray& drawing, const std::filesystem::path& folder);

}
