#include "core/engines/qpdf_input.h"
#include "support/test_support.h"

#include <qpdf/FileInputSource.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>

using namespace TestSupport;

namespace {

// Bytes as a PDF's are laid out: runs of text, line ends of every kind, some runs longer than a
// block, so that lines and reads cross the blocks' edges.
std::string pdfLikeBytes(std::mt19937& random, size_t size)
{
    static const char* const pieces[] = {"\r\n", "\n", "\r", "\n\r\n\r", "obj", " 0 R ", "endstream", "%%EOF"};
    std::string bytes;
    while (bytes.size() < size) {
        const auto pick = random() % 12;
        if (pick < 8)
            bytes += pieces[pick];
        else
            bytes.append(random() % (pick == 11 ? 90000 : 300), char('a' + random() % 26));
    }
    bytes.resize(size);
    return bytes;
}

}

// The tokenizer and the cross-reference reader use every move a source offers, in any order; each
// one, on this source and on qpdf's own, must leave the same position and give the same bytes.
TEST(FileBlocks, MovesAndReadsAsQpdfsOwnFileSourceDoes)
{
    TempDir dir;
    std::mt19937 random(11);
    for (const size_t size : {size_t(0), size_t(1), size_t(65536), size_t(400000)}) {
        SCOPED_TRACE(size);
        const auto bytes = pdfLikeBytes(random, size);
        const auto path = dir.path() / "fonte.pdf";
        writeFile(path, bytes);
        FileBlocks ours(path);
        FileInputSource theirs(path.c_str());
        for (int step = 0; step < 4000; ++step) {
            SCOPED_TRACE(step);
            const auto move = random() % 6;
            if (move == 0) {
                const int whence = std::array{SEEK_SET, SEEK_CUR, SEEK_END}[random() % 3];
                // A place anywhere up to past the end, said from the start, the position or the end.
                const auto target = qpdf_offset_t(random() % (size + 200));
                const auto offset = target - (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? theirs.tell() : qpdf_offset_t(size));
                ours.seek(offset, whence);
                theirs.seek(offset, whence);
            } else if (move == 1 || move == 2) {
                const size_t length = move == 1 ? random() % 200 : random() % 150000;
                std::string a(length, '\0'), b(length, '\0');
                const auto gotA = ours.read(a.data(), length);
                const auto gotB = theirs.read(b.data(), length);
                ASSERT_EQ(gotA, gotB);
                ASSERT_EQ(a.substr(0, gotA), b.substr(0, gotB));
                ASSERT_EQ(ours.getLastOffset(), theirs.getLastOffset());
                if (gotA > 0 && random() % 2) {
                    ours.unreadCh(a[gotA - 1]);
                    theirs.unreadCh(b[gotB - 1]);
                }
            } else if (move == 3) {
                ASSERT_EQ(ours.findAndSkipNextEOL(), theirs.findAndSkipNextEOL());
            } else if (move == 4) {
                // The tokenizer's way: tell, read characters, put the last one back.
                ASSERT_EQ(ours.fastTell(), theirs.fastTell());
                bool read = false;
                for (auto count = random() % 300; count > 0; --count) {
                    char a = 0, b = 0;
                    ASSERT_EQ(ours.fastRead(a), theirs.fastRead(b));
                    ASSERT_EQ(a, b);
                    read = read || a != 0;
                }
                const bool back = read && random() % 2;
                ours.fastUnread(back);
                theirs.fastUnread(back);
            } else {
                // qpdf's line reader throws from past the end; it must do so alike.
                auto line = [](InputSource& source) -> std::optional<std::string> {
                    try {
                        return source.readLine(120);
                    } catch (const std::exception&) {
                        return std::nullopt;
                    }
                };
                ASSERT_EQ(line(ours), line(theirs));
            }
            ASSERT_EQ(ours.tell(), theirs.tell());
        }
    }
}

// A whole document through this source reads object for object as through qpdf's own, damage and
// the repair of a cross-reference table that points wrong included.
TEST(FileBlocks, ADocumentReadsAsThroughQpdfsOwnSource)
{
    TempDir dir;
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    const int pages = 300;
    std::string kids;
    for (int i = 0; i < pages; ++i)
        kids += std::to_string(3 + 2 * i) + " 0 R ";
    auto add = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\r\n" + body + "\rendobj\r\n";
    };
    add("<< /Type /Catalog /Pages 2 0 R >>");
    add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) {
        const std::string content = "BT /F1 12 Tf 72 700 Td (Pagina " + std::to_string(i) + std::string(i % 7 * 900, ' ') + ") Tj ET";
        add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(4 + 2 * i) + " 0 R >>");
        add("<< /Length " + std::to_string(content.size()) + " >>\nstream\r\n" + content + "\nendstream");
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 0; i < offsets.size(); ++i) {
        char entry[24];
        // Every fifth entry points a few bytes off, as a careless writer leaves them.
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[i] + (i % 5 == 4 ? 3 : 0));
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    writeFile(dir.path() / "doc.pdf", pdf);

    auto read = [&](std::shared_ptr<InputSource> input) {
        QPDF document;
        document.setSuppressWarnings(true);
        document.processInputSource(input);
        std::string all;
        for (auto& object : document.getAllObjects()) {
            all += object.unparseResolved() + "\n";
            if (object.isStream()) {
                Pl_Buffer data("dados");
                all += object.pipeStreamData(&data, 0, qpdf_dl_none, true) ? "dados\n" : "falhou\n";
                all += std::to_string(data.getBufferSharedPointer()->getSize()) + "\n";
            }
        }
        return std::make_pair(all, document.getWarnings().size());
    };
    const auto ours = read(std::make_shared<FileBlocks>(dir.path() / "doc.pdf"));
    const auto theirs = read(std::make_shared<FileInputSource>((dir.path() / "doc.pdf").c_str()));
    EXPECT_GT(ours.second, 0u);
    EXPECT_EQ(ours, theirs);
}
