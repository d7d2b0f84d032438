#pragma once

#include <condition_variable>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class QPDF;

namespace PDFEngine {

namespace fs = std::filesystem;

// Runs of pages of a long PDF, each written as a document of its own. Poppler keeps every page it
// has looked up, up to the highest one asked, for as long as the document is open; a document of
// a run of pages keeps that run only, so drawing a long export piece by piece holds the same
// memory at its last page as at its first.
class PagePieces {
public:
    // Nothing is read until the first piece is asked for. Pieces are made on a thread of
    // their own: qpdf's objects, made and dropped in thousands, share no memory with the
    // drawing threads' long-lived ones, which would keep the freed ones' pages resident.
    // `pages`: how many poppler counts. A source qpdf reads otherwise (another page count, or
    // damage it had to mend) makes no pieces: each would fail with write().
    PagePieces(const fs::path& source, const fs::path& folder, int pages);
    ~PagePieces();
    PagePieces(const PagePieces&) = delete;
    PagePieces& operator=(const PagePieces&) = delete;

    // Pages first + 1 … first + count of the source, their catalog's layers and form settings
    // with them, as a new file in the folder; its caller removes it. A piece lies within one run
    // of 256 pages from the first (the source is read in such parts). Safe from any thread, one
    // piece at a time. Throws when qpdf cannot read the source or write the piece.
    fs::path write(int first, int count);

private:
    void serve();
    void split();
    fs::path make(int first, int count);

    const fs::path source_, folder_;
    const int pages_;
    bool unusable_ = false;
    std::mutex callers_;  // one piece at a time
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::pair<int, int>> request_;
    std::optional<fs::path> made_;
    std::exception_ptr failure_;
    bool quitting_ = false;
    // The source's parts, and the pages of each not yet made into pieces.
    std::vector<fs::path> parts_;
    std::vector<int> left_;
    std::unique_ptr<QPDF> pdf_;  // the part being read
    int openPart_ = -1;
    std::thread thread_;
};

}
