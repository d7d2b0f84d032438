#include "core/jobs/job_boundary.h"

#include "core/base/app_paths.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace JobBoundary {

namespace {

// Landlock's interface, written out: the C library has no wrappers, and the headers of older
// systems lack the later rights. The numbers are the same on every architecture.
constexpr long createRuleset = 444, addRule = 445, restrictSelf = 446;
constexpr uint32_t askVersion = 1U << 0;
constexpr int pathBeneath = 1;
constexpr uint64_t execute = 1ULL << 0, writeFile = 1ULL << 1, readFile = 1ULL << 2, readDir = 1ULL << 3;
constexpr uint64_t removeFile = 1ULL << 5, makeSocket = 1ULL << 9;
constexpr uint64_t refer = 1ULL << 13, truncate = 1ULL << 14;
// Everything a first version knows of: removing and making every kind of entry as well.
constexpr uint64_t firstVersion = (1ULL << 13) - 1;
constexpr uint64_t fileRights = execute | writeFile | readFile | truncate;

struct RulesetAttr {
    uint64_t handledFs;
};
struct PathBeneath {
    uint64_t allowed;
    int32_t parentFd;
} __attribute__((packed));

int landlockVersion()
{
    static const int version = [] {
        const long found = ::syscall(createRuleset, nullptr, 0, askVersion);
        return found > 0 ? int(found) : 0;
    }();
    return version;
}

uint64_t handledRights(int version)
{
    uint64_t rights = firstVersion;
    if (version >= 2)
        rights |= refer;
    if (version >= 3)
        rights |= truncate;
    return rights;
}

void allow(int ruleset, const fs::path& path, uint64_t rights)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info{};
    if (::fstat(fd, &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            rights &= fileRights;
        PathBeneath rule{rights, fd};
        ::syscall(addRule, ruleset, pathBeneath, &rule, 0);
    }
    ::close(fd);
}

fs::path xdg(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    if (value && *value && fs::path(value).is_absolute())
        return value;
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/") / fallback;
}

// Refuses the sockets that reach a network (Internet and raw packets, and the ring that could
// make one behind the filter's back); the local ones a suite talks to itself through stay.
#if defined(__x86_64__)
constexpr uint32_t nativeArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t nativeArch = AUDIT_ARCH_AARCH64;
#else
constexpr uint32_t nativeArch = 0;
#endif

constexpr uint32_t refuse = SECCOMP_RET_ERRNO | EACCES;
constexpr uint32_t argumentLow = offsetof(seccomp_data, args[0])
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    + 4
#endif
    ;

constexpr std::array<sock_filter, 13> networkFilter{{
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nativeArch, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, refuse),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    // x32's calls on x86-64 carry this bit.
    BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 7, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_io_uring_setup, 6, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 4),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argumentLow),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 3, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET6, 2, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_PACKET, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_RET | BPF_K, refuse),
}};

const sock_fprog networkProgram{
    static_cast<unsigned short>(networkFilter.size()), const_cast<sock_filter*>(networkFilter.data())};

}

Fence::~Fence()
{
    if (ruleset_ >= 0)
        ::close(ruleset_);
}

Entered Fence::enter() const noexcept
{
    Entered entered;
    // Neither restriction may be taken by a process that could gain privileges by exec.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return entered;
    entered.files = ruleset_ >= 0 && ::syscall(restrictSelf, ruleset_, 0) == 0;
    entered.network = nativeArch != 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &networkProgram) == 0;
    return entered;
}

std::shared_ptr<const Fence> make(const Rooms& rooms)
{
    std::shared_ptr<Fence> fence(new Fence);
    const int version = landlockVersion();
    if (version <= 0)
        return fence;
    const uint64_t handled = handledRights(version);
    const RulesetAttr attr{handled};
    const long ruleset = ::syscall(createRuleset, &attr, sizeof attr, 0);
    if (ruleset < 0)
        return fence;
    // Landlock's descriptor is closed with the fence; a child that execs has no use for it.
    ::fcntl(int(ruleset), F_SETFD, FD_CLOEXEC);
    fence->ruleset_ = int(ruleset);

    const uint64_t read = readFile | readDir;
    // The system's programs, libraries, fonts and settings, and the program's own helpers.
    for (const char* system : {"/usr", "/lib", "/lib64", "/lib32", "/libx32", "/bin", "/sbin", "/etc", "/opt"})
        allow(int(ruleset), system, read | execute);
    for (const char* system : {"/proc", "/sys", "/dev", "/var/cache/fontconfig", "/var/lib/fontconfig",
             "/var/spool/libreoffice"})
        allow(int(ruleset), system, read);
    allow(int(ruleset), "/dev/null", read | writeFile);
    if (rooms.suiteSocket)
        for (const char* shared : {"/tmp", "/var/tmp"})
            allow(int(ruleset), shared, makeSocket | removeFile);
    allow(int(ruleset), AppPaths::helperDir(), read | execute);
    allow(int(ruleset), AppPaths::resources(), read | execute);
    // The user's fonts and their settings, and the program's own settings.
    const fs::path data = xdg("XDG_DATA_HOME", ".local/share"), config = xdg("XDG_CONFIG_HOME", ".config");
    for (const auto& user : {data / "fonts", xdg("HOME", ".") / ".fonts", config / "fontconfig",
             xdg("XDG_CACHE_HOME", ".cache") / "fontconfig", config / "Brivlon"})
        allow(int(ruleset), user, read);
    // The error log and the office suite's lock, and the installed suite with its profile: made
    // here if need be, since the job may not make the folders above them.
    std::error_code error;
    for (const auto& own : {AppPaths::stateDir(), AppPaths::dataDir()})
        fs::create_directories(own, error);
    allow(int(ruleset), AppPaths::stateDir(), handled);
    allow(int(ruleset), AppPaths::dataDir(), handled | execute);
    for (const auto& room : rooms.readable)
        allow(int(ruleset), room, read);
    for (const auto& room : rooms.writable)
        allow(int(ruleset), room, handled & ~execute);
    for (const auto& room : rooms.programs)
        allow(int(ruleset), room, handled | execute);
    return fence;
}

bool filesFenced() { return landlockVersion() > 0; }

bool networkFilterInstalls()
{
    static const bool installs = [] {
        if (nativeArch == 0)
            return false;
        // Asked of a child, since the filter cannot be taken off again; it makes system calls only.
        const pid_t child = ::fork();
        if (child == 0) {
            const bool installed = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
                && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &networkProgram) == 0;
            ::_exit(installed ? 0 : 1);
        }
        int status = 0;
        while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
        return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }();
    return installs;
}

}
