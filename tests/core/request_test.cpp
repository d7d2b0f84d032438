// The request every road hands to perform(), and the frames that carry it to a worker.

#include "core/jobs/request.h"
#include "core/jobs/worker.h"
#include "core/jobs/worker_pool.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fnmatch.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace TestSupport;

namespace {

// Every format the catalogue makes, batch and action ones included.
std::vector<OutputFormat> everyFormat()
{
    std::vector<OutputFormat> formats{Catalog::mergedPDF(), Catalog::extractFormat()};
    for (auto list : {Catalog::imageFormats, Catalog::videoFormats, Catalog::audioFormats, Catalog::pdfFormats,
             Catalog::documentFormats, Catalog::subtitleFormats, Catalog::spreadsheetFormats, Catalog::archiveFormats,
             Catalog::packFormats})
        for (const auto& format : list())
            formats.push_back(format);
    return formats;
}

TEST(RequestTest, EveryFieldSurvivesTheTripToAWorker)
{
    // Names a line protocol or a text encoding would break: a line feed, a backslash, a byte that
    // is no UTF-8.
    const std::vector<fs::path> sources{"/tmp/quadro\\n\nx.png", "/tmp/b\xff\xfe.png", "/tmp/ação 2.png"};
    std::vector<std::optional<QualityLevel>> qualities{std::nullopt};
    for (auto level : QualityLevels::all())
        qualities.push_back(level);
    const std::vector<std::optional<Request::Tool>> tools{
        std::nullopt, Request::Tool{"resize", {{"width", "800"}, {"modo", "largura\nfixa"}}}};
    int checked = 0;
    for (const auto& format : everyFormat())
        for (auto kind : MediaKinds::all())
            for (auto op :
                {Request::Op::convert, Request::Op::mergePDF, Request::Op::mergeImages, Request::Op::archive})
                for (size_t variant = 0; variant < qualities.size(); ++variant) {
                    Request request{
                        op, sources, kind, format, qualities[variant], std::nullopt, tools[variant % tools.size()]};
                    if (variant % 2)
                        request.folder = "/tmp/Convertidos para " + format.label + "\n2";
                    // A trim's ranges keep every bit of their times.
                    if (variant % 3 == 1)
                        request.trim = Request::Trim{
                            {{0.1, 1.0 / 3}, {2.5, 1e9}}, variant % 2 ? "" : "webm", variant % 2 == 0, true};
                    const auto back = Requests::unpack(Requests::pack(request));
                    ASSERT_TRUE(back.has_value()) << format.label;
                    ASSERT_TRUE(*back == request) << format.label << " " << MediaKinds::rawValue(kind);
                    ASSERT_EQ(back->format.action, request.format.action) << format.label;
                    ++checked;
                }
    EXPECT_GT(checked, 1000);

    // Anything short of a whole request is refused, not half read.
    auto bytes = Requests::pack({Request::Op::convert, sources, MediaKind::image, Catalog::extractFormat()});
    for (qsizetype cut : {qsizetype(0), qsizetype(5), bytes.size() - 1})
        EXPECT_FALSE(Requests::unpack(bytes.left(cut))) << cut;
    EXPECT_FALSE(Requests::unpack(bytes + "x"));
}

TEST(RequestTest, EveryToolAndItsOptionsReachTheWorker)
{
    ToolParams changed;
    changed.quality = 42;
    changed.maxSide = 640;
    changed.scalePercent = 33;
    changed.useMaxSide = false;
    changed.aspect = "16:9";
    changed.start = "1:30";
    changed.end = "2:05,5";
    changed.resolution = 1080;
    changed.pages = "1-3, 7";
    for (auto tool : Tools::all())
        for (const auto& params : {ToolParams(), changed}) {
            const auto back = Requests::unpack(Requests::pack(Requests::forTool(tool, {"/tmp/a b.mov"}, params)));
            ASSERT_TRUE(back && back->tool) << Tools::rawValue(tool);
            const auto carried = Requests::toolOf(*back->tool);
            ASSERT_TRUE(carried);
            EXPECT_EQ(carried->first, tool);
            EXPECT_TRUE(carried->second == params) << Tools::rawValue(tool);
        }
    EXPECT_FALSE(Requests::toolOf({"imgcompress", {}}));
}

TEST(RequestTest, FramesArriveWholeHoweverTheBytesAreCut)
{
    using Worker::Answer;
    const std::vector<Answer> answers{{Answer::Kind::ready}, {Answer::Kind::progress, 0.25},
        {Answer::Kind::done, 0, "/tmp/saída\n\xff.jpg"},
        {Answer::Kind::failed, 0, {}, "Não foi possível ler o arquivo."}, {Answer::Kind::cancelled},
        {Answer::Kind::note, 0, "/tmp/fotos.zip", "Uma entrada do arquivo compactado foi ignorada por segurança: “x”."}};
    QByteArray stream;
    for (const auto& answer : answers)
        stream += Worker::frame(Worker::pack(answer));
    // One byte at a time, as a socket may deliver them.
    QByteArray buffer;
    std::vector<Answer> received;
    for (char byte : stream) {
        buffer.append(byte);
        while (auto payload = Worker::takeFrame(buffer))
            received.push_back(Worker::unpackAnswer(*payload).value());
    }
    EXPECT_EQ(received, answers);
    EXPECT_TRUE(buffer.isEmpty());

    QByteArray garbage("\xff\xff\xff\xffhello", 9);
    EXPECT_THROW(Worker::takeFrame(garbage), std::length_error);
}

TEST(RequestTest, ADropBecomesOneBatchRequestOrOnePerFile)
{
    TempDir dir;
    const std::vector<fs::path> files{dir / "b10.png", dir / "b9.png", dir / "a.png"};
    for (const auto& file : files)
        writeFile(file, "x");

    // Batch: the sources in file-manager order, merged by the engine of the selection's kind.
    const auto merged = Requests::plan(files, MediaKind::image, Catalog::mergedPDF(), QualityLevel::web, {});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].op, Request::Op::mergeImages);
    EXPECT_EQ(merged[0].sources, (std::vector<fs::path>{dir / "a.png", dir / "b9.png", dir / "b10.png"}));
    EXPECT_EQ(Requests::plan(files, MediaKind::pdf, Catalog::mergedPDF(), {}, {})[0].op, Request::Op::mergePDF);
    EXPECT_EQ(Requests::plan(files, MediaKind::image, Catalog::packFormats()[0], {}, {})[0].op, Request::Op::archive);
    EXPECT_FALSE(Requests::commonFolder(files, Catalog::mergedPDF()));

    // Per file, in the order given, all into one new folder; a second drop gets a second folder.
    const auto jpg = Catalog::fmts({"jpg"}).front();
    EXPECT_FALSE(Requests::commonFolder({files[0]}, jpg));
    const auto folder = Requests::commonFolder(files, jpg);
    EXPECT_EQ(folder, dir / "Convertidos para JPG");
    EXPECT_EQ(Requests::commonFolder(files, jpg), dir / "Convertidos para JPG 2");
    const auto each = Requests::plan(files, MediaKind::image, jpg, QualityLevel::max, folder);
    ASSERT_EQ(each.size(), 3u);
    for (size_t i = 0; i < each.size(); ++i)
        EXPECT_TRUE((each[i]
            == Request{Request::Op::convert, {files[i]}, MediaKind::image, jpg, QualityLevel::max, folder,
                std::nullopt}))
            << i;

    // A folder that cannot be made is the file system's error, for each road to handle its way.
    writeFile(dir / "ocupado", "x");
    EXPECT_THROW(Requests::commonFolder({dir / "ocupado/a.png", dir / "ocupado/b.png"}, jpg), fs::filesystem_error);

    // The later parts of a set of volumes given with its first part are taken with it, by the
    // new names and the old; a later part alone, or beside another set's first part, stays.
    const auto extract = Catalog::extractFormat();
    std::vector<fs::path> parts;
    for (const auto* name : {"x.part01.rar", "x.part02.rar", "x.part10.rar", "y.part2.rar", "z.rar", "z.r00",
             "z.R01", "w.r00", "w.part1.rar.zip"})
        parts.push_back(dir / name);
    std::vector<fs::path> kept;
    for (const auto& request : Requests::plan(parts, MediaKind::other, extract, {}, {}))
        kept.push_back(request.sources.front());
    EXPECT_EQ(kept, (std::vector<fs::path>{parts[0], parts[3], parts[4], parts[7], parts[8]}));
    EXPECT_FALSE(Requests::commonFolder({parts[0], parts[1], parts[2]}, extract));
}

}

namespace {

// The cells of the programs table in CONTRIBUTING.md, keyed by its header.
std::vector<std::map<std::string, std::string>> programsTable()
{
    std::ifstream file(BRIVLON_SOURCE_DIR "/CONTRIBUTING.md");
    std::vector<std::map<std::string, std::string>> rows;
    std::vector<std::string> header;
    const auto cells = [](const std::string& line) {
        std::vector<std::string> result;
        std::stringstream in(line.substr(1));
        for (std::string cell; std::getline(in, cell, '|');) {
            const auto first = cell.find_first_not_of(' '), last = cell.find_last_not_of(' ');
            result.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        return result;
    };
    for (std::string line; std::getline(file, line);) {
        if (header.empty()) {
            if (line.starts_with("| program | kind |"))
                header = cells(line);
        } else if (!line.starts_with("|"))
            break;
        else if (!line.starts_with("|---")) {
            const auto values = cells(line);
            auto& row = rows.emplace_back();
            for (size_t i = 0; i < header.size() && i < values.size(); ++i)
                row[header[i]] = values[i];
        }
    }
    return rows;
}

// The `…` spans of a cell.
std::vector<std::string> spans(const std::string& cell)
{
    std::vector<std::string> result;
    for (auto open = cell.find('`'); open != std::string::npos; open = cell.find('`', open + 1)) {
        const auto close = cell.find('`', open + 1);
        result.push_back(cell.substr(open + 1, close - open - 1));
        open = close;
    }
    return result;
}

}

// The table newcomers read to learn where a job runs is the one the requests follow: a road's
// row (the front, the worker) takes the jobs that run there and open no module, a module's row
// the jobs that open it. A job is a tool by its raw name or a drop as "<files> → <label>" (a name
// ending in "/" a folder), planned as the runner plans it.
TEST(RequestTest, TheProgramsTableIsWhatTheWorkersAreGiven)
{
    TempDir dir;
    const std::map<std::string, Road> roads{{"front", Road::front}, {"worker", Road::worker}};
    const auto planned = [&](const std::string& job) {
        if (const auto tool = Tools::fromRaw(job))
            return std::vector<Request>{Requests::forTool(*tool, {dir / "a"}, {})};
        const auto arrow = job.find(" → ");
        EXPECT_NE(arrow, std::string::npos);
        std::vector<fs::path> sources;
        std::stringstream names(job.substr(0, arrow));
        for (std::string name; names >> name;) {
            if (name.ends_with('/')) {
                name.pop_back();
                fs::create_directories(dir / name);
            } else
                writeFile(dir / name, "x");
            sources.push_back(dir / name);
        }
        const auto offered = Catalog::options(sources);
        EXPECT_TRUE(offered);
        const auto label = job.substr(arrow + std::string(" → ").size());
        const auto format = std::ranges::find(offered->formats, label, &OutputFormat::label);
        EXPECT_NE(format, offered->formats.end()) << "no " << label << " offered";
        if (format == offered->formats.end())
            return std::vector<Request>{};
        return Requests::plan(sources, offered->kind, *format, std::nullopt, std::nullopt);
    };
    std::set<std::string> described;
    for (const auto& row : programsTable()) {
        SCOPED_TRACE(row.at("program"));
        const auto& kind = row.at("kind");
        const auto taken = spans(row.at("takes"));
        const auto road = roads.find(kind);
        const auto module = EngineModules::parse(kind);
        if (road == roads.end() && !module) {
            EXPECT_EQ(kind, "—");
            EXPECT_TRUE(taken.empty()) << "a program of no kind is given no job";
            continue;
        }
        described.insert(kind);
        const auto program = spans(row.at("program")).front();
        if (module)
            EXPECT_EQ(program, "brivlon-" + kind + ".so");
        else if (road->second == Road::worker)
            EXPECT_EQ(program, fs::path(WorkerPool::program()).filename());
        EXPECT_FALSE(taken.empty());
        for (const auto& job : taken) {
            SCOPED_TRACE(job);
            const auto requests = planned(job);
            EXPECT_FALSE(requests.empty());
            for (const auto& request : requests) {
                const auto opened = Requests::modules(request);
                EXPECT_EQ(Requests::road(request), module ? Road::worker : road->second);
                if (module)
                    EXPECT_NE(std::ranges::find(opened, *module), opened.end());
                else
                    EXPECT_TRUE(opened.empty());
            }
        }
    }
    EXPECT_EQ(described.size(), roads.size() + EngineModules::all().size()) << "every road and module has its row";
}

// The sources column too: each program's files are those its build names, every one of them.
TEST(RequestTest, TheProgramsTableNamesEachProgramsSources)
{
    std::map<std::string, std::set<std::string>> built;
    std::ifstream list(BRIVLON_PROGRAMS_LIST);
    for (std::string line; std::getline(list, line);) {
        std::stringstream words(line);
        std::string program;
        words >> program;
        // What the build generates has an absolute path; what we write is named from the sources.
        for (std::string source; words >> source;)
            if (source.ends_with(".cpp") && !source.starts_with('/'))
                built[program].insert(fs::path(source).filename().string());
    }
    ASSERT_FALSE(built.empty());
    const auto rows = programsTable();
    std::set<std::string> described;
    for (const auto& row : rows) {
        const auto program = spans(row.at("program")).front();
        SCOPED_TRACE(program);
        const auto sources = built.find(program);
        if (sources == built.end()) {
            ADD_FAILURE() << "no such program in the build";
            continue;
        }
        described.insert(program);
        // A name may be a pattern: `headless_*.cpp`.
        std::set<std::string> named;
        for (const auto& pattern : spans(row.at("sources"))) {
            const auto before = named.size();
            for (const auto& source : sources->second)
                if (::fnmatch(pattern.c_str(), source.c_str(), 0) == 0)
                    named.insert(source);
            EXPECT_GT(named.size(), before) << pattern << " is none of its sources";
        }
        EXPECT_EQ(named, sources->second);
    }
    for (const auto& [program, sources] : built)
        EXPECT_TRUE(described.contains(program)) << program << " has no row";
}
