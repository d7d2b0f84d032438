#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server on 127.0.0.1 in a thread of its own, so that a child process or the test's own
// event loop can talk to it while the test waits. Requests are kept whole, headers and body. Every
// request gets a fixed `response` (raw HTTP), or no answer at all when it is empty; or it goes to
// a handler, which writes the answer on the socket as it likes (slowly, cut short, …).
class LoopbackServer {
public:
    // The whole request and the connected socket, closed once the handler returns.
    using Handler = std::function<void(const std::string& request, int socket)>;
    explicit LoopbackServer(Handler handler);
    explicit LoopbackServer(std::string response);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // A 200 (or another status) answer with a JSON body.
    static std::string json(const std::string& body, int status = 200);
    // Writes everything; false when the peer has gone.
    static bool send(int socket, const std::string& bytes);
    // The value of a request's header line of that name, whatever its case; empty when none.
    static std::string header(const std::string& request, const std::string& name);

    int port() const { return port_; }
    std::string url(const std::string& path = "/atualizacoes.json") const;
    std::vector<std::string> requests() const;
    // The first request's header of that name.
    std::string header(const std::string& name) const;

private:
    LoopbackServer(Handler handler, std::string response);
    void serve();

    Handler handler_;
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
