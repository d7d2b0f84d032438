#pragma once

#include <filesystem>
#include <optional>

// The office component: a private LibreOffice program tree under the program's data folder,
// with its own profile.
namespace Components {
namespace fs = std::filesystem;

// The version the marker file names exactly.
inline constexpr const char* officeVersion = "26.8.2";

// $XDG_DATA_HOME/Brivlon/Componentes and what it holds.
fs::path folder();
fs::path officeApp();
fs::path officeMarker();
fs::path officeProfile();
// The installed component's soffice: only with no BRIVLON_NO_COMPONENTS, an executable
// program/soffice and a marker reading exactly the version.
std::optional<fs::path> soffice();
// Whether the network counts as usable now: never with BRIVLON_FORCE_OFFLINE; an unknown state
// (no network information backend, as in containers) counts as usable.
bool networkUsable();
// Whether a component is published for this machine's processor (the suite's x86-64 build):
// elsewhere no download could give a program that runs.
bool downloadable();

}
