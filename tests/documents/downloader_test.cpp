// The resumable downloader against a loopback server: lengths, progress steps, resuming a
// dropped transfer once and only for its address, errors that are and are not the network's, a
// trickle that stalls, and cancellation.

#include "documents/downloader.h"

#include "core/base/task.h"
#include "support/loopback_server.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace TestSupport;
using namespace std::chrono_literals;

namespace {

std::string payload(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 13) % 26);
    return bytes;
}

void answer(int socket, const std::string& status, const std::string& headers, const std::string& body)
{
    LoopbackServer::send(socket, "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body);
}

std::string withLength(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n"; }

struct Fixture {
    TempDir dir;
    Downloader::Options options;
    std::vector<double> steps;
    Fixture() { options.partialFolder = dir / "parcial"; }
    fs::path destination() const { return dir / "pacote.bin"; }
    void get(const std::string& url)
    {
        Downloader::download(
            QUrl(QString::fromStdString(url)), destination(),
            [this](double value) {
                steps.push_back(value);
            },
            options);
    }
};

}

TEST(Downloader, ProgressInStepsAndTheDestinationReplaced)
{
    const std::string body = payload(1 << 20);
    LoopbackServer server([&](const std::string&, int socket) {
        LoopbackServer::send(socket, "HTTP/1.1 200 OK\r\n" + withLength(body) + "Connection: close\r\n\r\n");
        for (size_t at = 0; at < body.size(); at += 1000)
            LoopbackServer::send(socket, body.substr(at, 1000));
    });
    Fixture f;
    writeFile(f.destination(), "versão antiga");
    f.get(server.url("/a"));
    EXPECT_EQ(readFile(f.destination()), body);
    ASSERT_FALSE(f.steps.empty());
    EXPECT_LE(f.steps.size(), 200u);
    for (size_t i = 1; i < f.steps.size(); ++i)
        EXPECT_GE(f.steps[i] - f.steps[i - 1], 0.005 - 1e-9);
    EXPECT_LE(f.steps.back(), 0.999);
    EXPECT_GE(f.steps.back(), 0.99);
    EXPECT_TRUE(fs::is_empty(f.options.partialFolder));
}

TEST(Downloader, WithoutALengthNothingIsReported)
{
    const std::string body = payload(300000);
    LoopbackServer server([&](const std::string&, int socket) {
        answer(socket, "200 OK", "", body);
    });
    Fixture f;
    f.get(server.url("/sem-tamanho"));
    EXPECT_EQ(readFile(f.destination()), body);
    EXPECT_TRUE(f.steps.empty());
}

TEST(Downloader, ServerAnswersAreNotNetworkErrors)
{
    LoopbackServer server([&](const std::string&, int socket) {
        answer(socket, "404 Not Found", withLength("não há"), "não há");
    });
    Fixture f;
    try {
        f.get(server.url("/falta"));
        ADD_FAILURE() << "no error";
    } catch (const std::exception& error) {
        EXPECT_FALSE(Downloader::isNetworkError(error)) << error.what();
    }
    EXPECT_FALSE(fs::exists(f.destination()));
    // Nobody listening is the network's.
    std::string closed;
    {
        LoopbackServer gone([](const std::string&, int) {});
        closed = gone.url("/x");
    }
    try {
        f.get(closed);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& error) {
        EXPECT_TRUE(Downloader::isNetworkError(error)) << error.what();
    }
}

TEST(Downloader, AServerThatSendsMoreThanTheBoundIsCutOff)
{
    // Announced too large: refused at the headers. Unannounced: stopped once the bytes pass the
    // bound, long before the end, with nothing kept for a resume.
    // Larger than what the loopback's socket buffers take in before the client reads.
    const std::string body(24 << 20, 'x');
    std::atomic<size_t> sent{0};
    LoopbackServer server([&](const std::string& request, int socket) {
        const bool announced = request.find("/anunciado") != std::string::npos;
        LoopbackServer::send(socket, "HTTP/1.1 200 OK\r\n" + (announced ? withLength(body) : "") + "Connection: close\r\n\r\n");
        for (size_t at = 0; at < body.size(); at += 65536) {
            if (!LoopbackServer::send(socket, body.substr(at, 65536)))
                return;
            sent += 65536;
        }
    });
    for (const char* path : {"/anunciado", "/sem-tamanho"}) {
        SCOPED_TRACE(path);
        Fixture f;
        f.options.sizeLimit = 1 << 20;
        sent = 0;
        try {
            f.get(server.url(path));
            ADD_FAILURE() << "no error";
        } catch (const std::exception& error) {
            EXPECT_FALSE(Downloader::isNetworkError(error)) << error.what();
            EXPECT_STREQ(error.what(), "o arquivo é maior que o esperado");
        }
        EXPECT_FALSE(fs::exists(f.destination()));
        EXPECT_TRUE(fs::is_empty(f.options.partialFolder));
        // The server could not get rid of the whole body: the client reads no more than its
        // buffer ahead, so the connection went first.
        EXPECT_LT(sent.load(), body.size());
    }
}

TEST(Downloader, ADroppedTransferResumesOnceAndOnlyForItsAddress)
{
    const std::string body = payload(200000);
    const size_t half = body.size() / 2;
    std::atomic<int> mode{0};  // 0 drop halfway, 1 answer ranges, 2 answer 416 to ranges
    LoopbackServer server([&](const std::string& head, int socket) {
        const std::string range = LoopbackServer::header(head, "Range");
        const std::string common = "ETag: \"v1\"\r\nAccept-Ranges: bytes\r\n";
        if (!range.empty() && mode == 1) {
            const size_t from = std::stoul(range.substr(6));
            answer(socket, "206 Partial Content",
                common + "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/"
                    + std::to_string(body.size()) + "\r\n" + withLength(body.substr(from)),
                body.substr(from));
        } else if (!range.empty() && mode == 2) {
            answer(socket, "416 Range Not Satisfiable", withLength(""), "");
        } else if (mode == 0) {
            LoopbackServer::send(
                socket, "HTTP/1.1 200 OK\r\n" + common + withLength(body) + "\r\n" + body.substr(0, half));
        } else {
            answer(socket, "200 OK", common + withLength(body), body);
        }
    });
    Fixture f;
    const auto dropped = [&](const std::string& path) {
        mode = 0;
        try {
            f.get(server.url(path));
            ADD_FAILURE() << "no error";
        } catch (const std::exception& error) {
            EXPECT_TRUE(Downloader::isNetworkError(error)) << error.what();
        }
    };
    // The client library may send a request again by itself when a connection breaks, so only
    // the request that answered each call counts: the last one so far.
    const auto lastRange = [&] {
        return LoopbackServer::header(server.requests().back(), "Range");
    };
    dropped("/a");
    mode = 1;
    f.get(server.url("/a"));
    EXPECT_EQ(readFile(f.destination()), body);
    EXPECT_EQ(lastRange(), "bytes=" + std::to_string(half) + "-");
    EXPECT_EQ(LoopbackServer::header(server.requests().back(), "If-Range"), "\"v1\"");
    f.get(server.url("/a"));
    EXPECT_EQ(lastRange(), "");

    // Another address in between forgets what was kept.
    dropped("/a");
    mode = 1;
    f.get(server.url("/b"));
    EXPECT_EQ(lastRange(), "");
    f.get(server.url("/a"));
    EXPECT_EQ(lastRange(), "");

    // A server that refuses the range: the transfer starts over.
    dropped("/a");
    mode = 2;
    f.get(server.url("/a"));
    EXPECT_EQ(readFile(f.destination()), body);
}

TEST(Downloader, ATrickleStallsAndCancellingStops)
{
    std::atomic<bool> stop{false};
    LoopbackServer server([&](const std::string&, int socket) {
        LoopbackServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 100 && !stop; ++i) {
            if (!LoopbackServer::send(socket, std::string(1000, 'x')))
                break;
            std::this_thread::sleep_for(i == 0 ? 600ms : 20ms);
        }
    });
    Fixture f;
    f.options.stallLimit = 200ms;
    try {
        f.get(server.url("/devagar"));
        ADD_FAILURE() << "no error";
    } catch (const std::exception& error) {
        EXPECT_TRUE(Downloader::isNetworkError(error)) << error.what();
    }

    f.options.stallLimit = 60s;
    writeFile(f.destination(), "intacto");
    auto context = Task::newJob();
    Task::Binder binder(context);
    EXPECT_THROW(Downloader::download(
                     QUrl(QString::fromStdString(server.url("/cancelar"))), f.destination(),
                     [&](double) {
                         context.cancel->cancel();
                     },
                     f.options),
        CancellationError);
    stop = true;
    EXPECT_EQ(readFile(f.destination()), "intacto");
}

TEST(Downloader, ALocalFileOverTheBoundIsRefusedWithoutBeingRead)
{
    // A component package given as a local file, far over its bound (sparse: it takes no disk),
    // and one a little over it whose size only shows as it is read: neither may be held in
    // memory to be refused.
    const auto peak = [] {
        const auto status = readFile("/proc/self/status");
        const auto at = status.find("VmHWM:");
        return std::stoll(status.substr(at + 6)) << 10;
    };
    TempDir source;
    const auto big = source / "enorme.tar.xz";
    writeFile(big, "");
    fs::resize_file(big, 600LL << 20);
    const auto before = peak();
    Fixture f;
    f.options.sizeLimit = 4 << 20;
    try {
        f.get(QUrl::fromLocalFile(QString::fromStdString(big.string())).toString().toStdString());
        ADD_FAILURE() << "no error";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "o arquivo é maior que o esperado");
    }
    EXPECT_LT(peak() - before, 64LL << 20);
    EXPECT_FALSE(fs::exists(f.destination()));
}
