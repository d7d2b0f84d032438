#include "core/job_fakes.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <set>
#include <sstream>

using namespace TestSupport;
using namespace std::chrono;

namespace {

std::set<std::string> names(const fs::path& folder)
{
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.insert(entry.path().filename().string());
    return result;
}

// Three long conversions and a move of a big file from /dev/shm (another file system than the
// test folder's) are under way in the probe when it is asked to quit.
class QuitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(makeMedia(dir / "a.mp4", "testsrc=duration=30:size=640x480:rate=30", {"-preset", "ultrafast"}));
        for (const char* copy : {"b.mp4", "c.mp4"})
            fs::copy_file(dir / "a.mp4", dir / copy);
        fs::create_directory(dir / "destino");
        fs::create_directory(dir / "tmp");
        char pattern[] = "/dev/shm/brivlon-quit-XXXXXX";
        shm = mkdtemp(pattern);
        // Sparse: it takes no memory, and its copy is still long enough to be cut off.
        writeFile(shm / "grande.bin", "");
        fs::resize_file(shm / "grande.bin", bigSize);
    }
    void TearDown() override { FileSafety::removeTree(shm); }

    // Starts the probe and waits until its work is under way; the ids of its descendants then.
    std::vector<pid_t> start(const char* how)
    {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", QString::fromStdString((dir / "tmp").string()));
        // Qt would make its own runtime folder in TMPDIR.
        fs::create_directory(shm / "run");
        fs::permissions(shm / "run", fs::perms::owner_all);
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString((shm / "run").string()));
        probe.setProcessEnvironment(env);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QUIT_PROBE,
            {QString::fromStdString(dir.path().string()), QString::fromStdString((shm / "grande.bin").string()), how});
        std::vector<pid_t> pids;
        const auto deadline = steady_clock::now() + seconds(60);
        while (steady_clock::now() < deadline && probe.state() != QProcess::NotRunning) {
            if (!probe.canReadLine()) {
                probe.waitForReadyRead(100);
                continue;
            }
            std::istringstream line(probe.readLine().toStdString());
            std::string word;
            line >> word;
            if (word != "running")
                continue;
            for (pid_t pid; line >> pid;)
                pids.push_back(pid);
            return pids;
        }
        ADD_FAILURE() << "the probe never had its work under way";
        return pids;
    }

    // The probe left with 0 within the wait it allows itself, and took everything with it.
    void expectNothingLeft(const std::vector<pid_t>& pids)
    {
        EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(probe.exitCode(), 0);
        EXPECT_GE(pids.size(), 6u) << "three workers with their ffmpeg each";
        // Orphans of a probe that left too early would be reaped by init a moment later.
        EXPECT_TRUE(JobFakes::pumpUntil(5, [&] {
            return std::none_of(pids.begin(), pids.end(), [](pid_t pid) {
                return fs::exists("/proc/" + std::to_string(pid));
            });
        })) << "a child outlived the program";
        EXPECT_EQ(JobFakes::processes("ffmpeg", dir.path().string()), 0);
        EXPECT_EQ(names(dir.path()), (std::set<std::string>{"a.mp4", "b.mp4", "c.mp4", "destino", "tmp"}));
        EXPECT_TRUE(fs::is_empty(dir / "destino")) << "a partial copy was left";
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "a worker's temporary folder was left";
        EXPECT_EQ(fs::file_size(shm / "grande.bin"), bigSize) << "the moved file must stay whole";
    }

    static constexpr uintmax_t bigSize = uintmax_t(16) << 30;
    TempDir dir;
    fs::path shm;
    QProcess probe;
};

TEST_F(QuitTest, TheMenusQuitCancelsEverythingAndLeaves)
{
    const auto pids = start("menu");
    ASSERT_TRUE(probe.waitForFinished(15000));
    const auto output = probe.readAllStandardOutput().toStdString();
    std::cout << output;
    const auto took = std::stoi(output.substr(output.find("quit took ") + 10));
    EXPECT_LT(took, 3500) << "the wait for the jobs is bounded";
    expectNothingLeft(pids);
}

TEST_F(QuitTest, TerminationSignalQuitsTheSameWay)
{
    const auto pids = start("signal");
    const auto sent = steady_clock::now();
    ::kill(pid_t(probe.processId()), SIGTERM);
    ASSERT_TRUE(probe.waitForFinished(15000));
    const auto took = duration_cast<milliseconds>(steady_clock::now() - sent);
    std::cout << "left after " << took.count() << " ms\n";
    EXPECT_LT(took, milliseconds(4000)) << "the wait for the jobs is bounded";
    expectNothingLeft(pids);
}

}
