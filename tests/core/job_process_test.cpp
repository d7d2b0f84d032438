// The job's bounds are the kernel's: a process inside them is refused what lies outside its rooms
// and the network, whatever the readers above would have checked first. These tests ask the
// kernel directly, through both roads a job's process is started by.

#include "core/base/app_paths.h"
#include "core/base/output_paths.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/task.h"
#include "core/jobs/job_boundary.h"
#include "core/jobs/job_process.h"
#include "core/jobs/request.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// What each attempt of a fenced process got: 0, or the error the kernel gave.
struct Attempts {
    int readRoom = -1, readOutside = -1, writeRoom = -1, writeReadable = -1;
    int internet = -1, internet6 = -1, local = -1, socketInTmp = -1;
};

int openError(const fs::path& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

int socketError(int family)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

// Binds a local socket at `path` and removes it again; the error, or 0.
int bindError(const fs::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int error = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    ::close(fd);
    if (error == 0)
        ::unlink(path.c_str());
    return error;
}

class JobProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!JobBoundary::filesFenced() || !JobBoundary::networkFilterInstalls())
            GTEST_SKIP() << "this kernel has no Landlock or no seccomp filter";
        writeFile(room / "fonte.txt", "da sala");
        writeFile(outside / "segredo.txt", "de fora");
    }
    // The bounds of a job whose source is in `room` and whose outputs go to `output`.
    std::shared_ptr<const JobProcess::Bounds> bounds(unsigned long long budget = JobBudget::bytes())
    {
        return std::make_shared<JobProcess::Bounds>(JobBoundary::make({{room.path()}, {output.path()}, {}}), budget);
    }
    Attempts attempt() const
    {
        Attempts got;
        got.readRoom = openError(room / "fonte.txt", O_RDONLY);
        got.readOutside = openError(outside / "segredo.txt", O_RDONLY);
        got.writeRoom = openError(output / "saida.txt", O_WRONLY | O_CREAT | O_EXCL);
        got.writeReadable = openError(room / "novo.txt", O_WRONLY | O_CREAT | O_EXCL);
        got.internet = socketError(AF_INET);
        got.internet6 = socketError(AF_INET6);
        got.local = socketError(AF_UNIX);
        // The office suite's socket is a document job's right alone.
        got.socketInTmp = bindError("/tmp/brivlon-cerca-" + std::to_string(::getpid()));
        return got;
    }

    TempDir room, output, outside;
};

struct NothingWritable final : OutputPaths::WritableCheck {
    bool isWritable(const fs::path&) override { return false; }
};

}

TEST_F(JobProcessTest, AFencedProcessIsRefusedWhatLiesOutsideItsRoomsAndTheNetwork)
{
    // The worker's road: the job's process forked from this one enters the bounds and tries.
    auto pipe = FileSafety::Pipe::make();
    const auto end = JobProcess::run(
        *bounds(),
        [&] {
            const Attempts got = attempt();
            [[maybe_unused]] auto written = ::write(pipe.write.get(), &got, sizeof got);
        },
        {});
    pipe.write.reset();
    Attempts got;
    ASSERT_EQ(::read(pipe.read.get(), &got, sizeof got), ssize_t(sizeof got));
    EXPECT_EQ(end, JobProcess::End::well);
    EXPECT_EQ(got.readRoom, 0);
    EXPECT_EQ(got.writeRoom, 0);
    EXPECT_EQ(got.local, 0);
    for (const int refused : {got.readOutside, got.writeReadable, got.internet, got.internet6, got.socketInTmp})
        EXPECT_EQ(refused, EACCES) << std::strerror(refused);
    // This process itself stays as it was.
    EXPECT_EQ(socketError(AF_INET), 0);
    EXPECT_EQ(openError(outside / "segredo.txt", O_RDONLY), 0);

    // The front's road: a tool started for the job enters the same bounds between start and exec.
    auto context = Task::newJob();
    context.bounds = bounds();
    Task::Binder binder(context);
    const auto cat = Process::run({"/bin/cat", {(room / "fonte.txt").string(), (outside / "segredo.txt").string()}});
    EXPECT_EQ(cat.out, "da sala");
    EXPECT_NE(cat.exitCode, 0);
    EXPECT_NE(cat.err.find("Permission denied"), std::string::npos) << cat.err;
    const auto python = Process::run({"/usr/bin/python3",
        {"-c", "import socket\ntry:\n socket.socket(socket.AF_INET)\nexcept PermissionError:\n print('recusado')"}});
    EXPECT_EQ(python.out, "recusado\n") << python.err;
}

TEST_F(JobProcessTest, HowAJobsProcessEndedIsJudgedOnce)
{
    // Outgrowing the budget is seen by the watch, not by the process: it touches shared pages,
    // which no data limit of its own stops, so only the watch can end it. A caught failed
    // allocation and a crash are told apart by their status and last words.
    const auto grow = [] {
        const size_t size = 64ULL << 30;
        const int fd = ::memfd_create("cresce", MFD_CLOEXEC);
        if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0)
            std::_Exit(1);
        auto* bytes = static_cast<volatile char*>(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        for (size_t at = 0; bytes != MAP_FAILED && at < size; at += 4096)
            bytes[at] = 1;
        std::_Exit(1);
    };
    const auto resident = std::stoull(readFile("/proc/self/statm").substr(readFile("/proc/self/statm").find(' ') + 1))
        * (unsigned long long)::sysconf(_SC_PAGESIZE);
    bool told = false;
    EXPECT_EQ(JobProcess::run(*bounds(resident + (256ULL << 20)), grow, [&] { told = true; }), JobProcess::End::outgrown);
    EXPECT_TRUE(told);
    const auto out = [] { std::_Exit(JobProcess::outOfMemoryStatus); };
    EXPECT_EQ(JobProcess::run(*bounds(), out, {}), JobProcess::End::outOfMemory);
    const auto words = [] {
        std::fputs("terminate called after throwing an instance of 'std::bad_alloc'\n", stderr);
        std::abort();
    };
    EXPECT_EQ(JobProcess::run(*bounds(), words, {}), JobProcess::End::outOfMemory);
    const auto encoder = [] {
        std::fputs("x264 [error]: malloc of size 5932052 failed\nError initializing output stream 0:0\n", stderr);
        std::_Exit(1);
    };
    EXPECT_EQ(JobProcess::run(*bounds(), encoder, {}), JobProcess::End::outOfMemory);
    const auto crash = [] {
        std::fputs("free(): invalid next size (normal)\n", stderr);
        std::abort();
    };
    EXPECT_EQ(JobProcess::run(*bounds(), crash, {}), JobProcess::End::failed);
}

// A source in a folder that cannot be written sends the output to the download folder as the
// desktop names it, and the job's own bounds both find that name and let it write there.
TEST_F(JobProcessTest, AJobWhoseFolderCannotBeWrittenWritesInTheDownloadFolderTheDesktopNames)
{
    writeFile(AppPaths::userDirs(), "XDG_DOWNLOAD_DIR=\"$HOME/Baixados\"\n");
    TestSupport::Installed<OutputPaths::WritableCheck> installed{std::make_shared<NothingWritable>()};
    Request request;
    request.sources = {room / "fonte.txt"};
    const auto write = [&] {
        try {
            writeFile(OutputPaths::directory(room / "fonte.txt") / "saida.txt", "x");
        } catch (const std::exception&) {
            std::_Exit(1);
        }
    };
    EXPECT_EQ(JobProcess::run(*JobProcess::of(request), write, {}), JobProcess::End::well);
    EXPECT_TRUE(fs::exists(fs::path(std::getenv("HOME")) / "Baixados/saida.txt"));
}

TEST_F(JobProcessTest, ATrimsToolsRunInsideTheJobsBoundsAndBudgetFromEitherRoad)
{
    // Its tools are stand-ins that say what they may do: a file beside the home, outside every
    // room a trim opens (its source's folder, its output folder, the temporary folder).
    const fs::path away = fs::path(std::getenv("HOME")) / ("fora-" + std::to_string(::getpid()));
    fs::create_directories(away);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> removed(&away, [](const fs::path* path) {
        FileSafety::removeTree(*path);
    });
    writeFile(away / "segredo.txt", "de fora");
    TempDir resources;
    const auto report = room / "relato.txt";
    makeReportingTools(resources.path(), report, away / "segredo.txt");
    writeFile(room / "clipe.mp4", "não importa: as ferramentas não o leem");

    // Unbounded, the stand-in reads the file, so a refusal below is the fence's.
    const auto plain = Process::run({(resources / "bin/ffmpeg").string(), {}});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_EQ(reportLines(report), std::vector<std::string>{"ffmpeg NoNewPrivs:0 Seccomp:0 lido"});
    fs::remove(report);

    // The command line's --trim, fast and exact.
    const std::vector<std::pair<std::string, std::string>> tools = {{"BRIVLON_RESOURCES", resources.path().string()}};
    for (const auto& [ext, fast] : {std::pair{"keep", "fast"}, std::pair{"webm", "x"}})
        EXPECT_EQ(runBrivlon({"--trim", "0", "1", ext, fast, (room / "clipe.mp4").string()}, 60, tools).exitCode, 1);
    // The trim editor's export: the same request, carried out in this process.
    {
        Process::EnvironmentChange change;
        ::setenv("BRIVLON_RESOURCES", resources.path().c_str(), 1);
    }
    Request request;
    request.sources = {room / "clipe.mp4"};
    request.kind = MediaKind::video;
    request.folder = output.path();
    request.trim = Request::Trim{{{0, 1}, {2, 3}}, "mp4", false, true};
    Task::Binder binder(Task::newJob());
    EXPECT_THROW(Requests::performHere(request, {}), ConversionError);
    {
        Process::EnvironmentChange change;
        ::unsetenv("BRIVLON_RESOURCES");
    }
    const auto lines = reportLines(report);
    EXPECT_GE(std::count_if(lines.begin(), lines.end(),
                  [](const std::string& line) {
                      return line.starts_with("ffmpeg ");
                  }),
        2);
    for (const auto& line : lines)
        EXPECT_TRUE(line.ends_with(" NoNewPrivs:1 Seccomp:2 recusado")) << line;

    // The real ffmpeg of an encode, as the kernel shows it while it works.
    ASSERT_TRUE(makeMedia(output / "filme.mkv", "testsrc2=size=1920x1080:rate=30:duration=2", {"-pix_fmt", "yuv420p"}));
    const auto film = (output / "filme.mkv").string();
    request.sources = {film};
    request.folder.reset();
    request.trim = Request::Trim{{{0, 2}}, "mp4", false, false};
    auto encode = std::async(std::launch::async, [&request, context = Task::current()] {
        Task::Binder bound(context);
        return Requests::performHere(request, {});
    });
    // Threads come and go meanwhile: one that went is passed over.
    std::string seen;
    std::error_code gone;
    while (seen.empty() && encode.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        for (auto task = fs::directory_iterator("/proc/self/task", gone); !gone && task != fs::directory_iterator();
             task.increment(gone))
            for (std::istringstream children(readFile(task->path() / "children")); seen.empty();) {
                int pid = 0;
                if (!(children >> pid))
                    break;
                const auto status = readFile("/proc/" + std::to_string(pid) + "/status");
                if (status.starts_with("Name:\tffmpeg\n"))
                    seen = status;
            }
    const auto made = encode.get();
    fs::remove(made);
    ASSERT_FALSE(seen.empty()) << "no ffmpeg seen while it encoded";
    EXPECT_NE(seen.find("\nNoNewPrivs:\t1\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nSeccomp:\t2\n"), std::string::npos) << seen;

    // The budget: one too small for ffmpeg to start refuses the trim as it refuses the
    // conversion, and an encode beyond a larger one ends with the sentence that names memory.
    for (const auto& run : {std::vector<std::string>{"--trim", "0", "1", "keep", "fast", film},
             std::vector<std::string>{"--trim", "0-0.5,1-1.5", "-", "mp4", "x", film},
             std::vector<std::string>{"--convert", "MP4", film}})
        EXPECT_EQ(runBrivlon(run, 60, {{"BRIVLON_JOB_MEMORY", "8"}}).exitCode, 1) << run.front();
    const auto beyond = runBrivlon({"--trim", "0", "2", "mp4", "x", film}, 60, {{"BRIVLON_JOB_MEMORY", "120"}});
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_NE(beyond.err.find(ErrorCauses::tooMuchMemory), std::string::npos) << beyond.err;
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(output.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"filme.mkv"});
    // Within its budget the same trim is made.
    EXPECT_EQ(runBrivlon({"--trim", "0", "1", "keep", "fast", film}, 60).exitCode, 0);
}
