#pragma once

// A small HTTP server on 127.0.0.1 for download tests: each connection's request goes to the
// test's handler, which writes the answer on the socket as it likes (slowly, cut short, …).

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    // The request's head (request line and headers) and the connected socket.
    using Handler = std::function<void(const std::string& head, int socket)>;
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();

    std::string url(const std::string& path) const;
    std::vector<std::string> heads() const;

    // Writes everything; false when the peer has gone.
    static bool send(int socket, const std::string& bytes);
    static std::string header(const std::string& head, const std::string& name);

private:
    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
};
