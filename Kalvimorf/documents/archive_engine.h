#pragma once

#include "core/base/catalog.h"

#include <functional>
#include <vector>

// Makes, unpacks and repacks archives with the system's archivers; single .xz files are
// decompressed in process. Outputs always get a name nothing has yet and are moved into place
// without ever replacing anything.
namespace ArchiveEngine {
// Packs the items into one archive ("zip", "tar" or "tgz") in the first item's output folder,
// named after the single item ("Relatório.pdf.zip") or "Arquivos (N)" for several. Each item is
// packed at the archive's top level from its own folder.
fs::path create(const std::vector<fs::path>& items, const OutputFormat& format);
// Unpacks beside the source, never overwriting: a single compressed file into its base name, an
// archive with one entry to that entry, any other into a folder named after the archive. What is
// unpacked belongs to the user running the program, without set-id bits; only regular files,
// folders and links that stay inside are kept. Inputs must be regular files. A set of RAR
// volumes is read from its first part with every other part beside it, also when a later part is
// given; a part without its first one, or a set missing a part, is refused with a sentence saying
// a part is missing.
fs::path extract(const fs::path& archive);
// Unpacks into a temporary folder and packs the entries again as `format` beside the source.
fs::path repack(const fs::path& archive, const OutputFormat& format);

// Unpacking stops with an error before it would leave less than 5 % of the temporary or the
// destination file system free. The probe, when set, replaces the room a file system has above
// that 5 % (for tests that must not fill a disk); an empty one restores the real figure.
void setRoomProbe(std::function<long long(const fs::path& folder)> probe);
// It also stops, with "O arquivo compactado é grande demais para abrir.", once it has written
// more than 1,000 times the archive's size or 2 GiB, whichever is more, and it refuses at once a
// zip whose entries share their compressed bytes. Tests set a smaller floor than 2 GiB here; 0
// restores it.
void setOutputFloor(long long bytes);

}
