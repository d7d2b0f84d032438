#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server on 127.0.0.1 in a thread of its own, so that a child process or the test's own
// event loop can talk to it while the test waits: every request gets `response` (raw HTTP), or
// no answer at all when it is empty. Requests are kept whole, headers and body.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string response);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // A 200 (or another status) answer with a JSON body.
    static std::string json(const std::string& body, int status = 200);
    int port() const { return port_; }
    std::string url(const std::string& path = "/atualizacoes.json") const;
    std::vector<std::string> requests() const;
    // The first request's header line of that name ("User-Agent"), value only.
    std::string header(const std::string& name) const;

private:
    void serve();

    std::string response_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<int> held_;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (taken and let go again).
int closedPort();
