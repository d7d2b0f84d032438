#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Word, ODT and RTF documents to PDF with their full layout, through a headless LibreOffice:
// the private office component first, then the suite the user installed. No suite, or a failed
// run of the component, gives no file, and the caller takes the simple route.
namespace OfficeEngine {
namespace fs = std::filesystem;

// The extension keys that may take this route.
const std::set<std::string>& inputs();

// The suites a conversion may use, in order.
struct Suites {
    // The installed component's soffice and the profile it keeps across runs.
    std::optional<fs::path> component;
    fs::path componentProfile;
    // Suites the user installed, and the profile they share; without one each run gets a fresh
    // profile in its own folder.
    std::vector<fs::path> user;
    std::optional<fs::path> userProfile;
    std::chrono::milliseconds timeLimit = std::chrono::seconds(180);
};
// The component when it is complete, then the distribution's LibreOffice or `soffice` on PATH.
Suites installedSuites();
// The suite the user installed: the distribution's LibreOffice, else `soffice` on PATH.
std::optional<fs::path> userSuite();
// The product and version a suite's program folder names ("LibreOffice 7.4"); "LibreOffice"
// when it names none.
std::string suiteName(const fs::path& soffice);
// The user's suite and its name, looked up once for the process: what converts documents while
// no component is installed.
struct SystemSuite {
    fs::path soffice;
    std::string name;
};
std::optional<SystemSuite> systemSuite();

// The PDF beside the source (a free name chosen right before it is moved there), or nothing.
// Throws when a work folder cannot be made or the product cannot be moved; a cancelled job ends
// the suite's whole process group and throws CancellationError.
std::optional<fs::path> toPDF(const fs::path& source, const Suites& suites = installedSuites());

// One conversion by one suite into `folder`: the product, or nothing when the suite failed,
// timed out or wrote nothing. `format` is what follows --convert-to ("pdf", "docx").
std::optional<fs::path> convertWithSuite(const fs::path& soffice, const fs::path& source, const std::string& format,
    const fs::path& folder, const std::optional<fs::path>& profile, std::chrono::milliseconds timeLimit);

// An old Word file as a DOCX in `folder`, through any suite; nothing without one.
std::optional<fs::path> docToDocx(
    const fs::path& source, const fs::path& folder, const Suites& suites = installedSuites());

// Tells the user once per process why a PDF looks simpler.
void noteSimpleMode();
// The two texts of that notice.
std::string simpleModeMessage(bool online);

}
