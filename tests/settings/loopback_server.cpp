#include "settings/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace {

int bound(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("no loopback socket");
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// The whole request: headers, then as many body bytes as Content-Length says.
std::string readRequest(int fd)
{
    std::string data;
    char buffer[4096];
    for (;;) {
        const auto end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
            size_t length = 0;
            const auto at = data.find("Content-Length:");
            if (at != std::string::npos && at < end)
                length = std::stoul(data.substr(at + 15));
            if (data.size() >= end + 4 + length)
                return data;
        }
        const auto got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return data;
        data.append(buffer, size_t(got));
    }
}

}

LoopbackServer::LoopbackServer(std::string response) : response_(std::move(response))
{
    listener_ = bound(port_);
    ::listen(listener_, 16);
    thread_ = std::thread([this] {
        serve();
    });
}

LoopbackServer::~LoopbackServer()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
    for (int fd : held_)
        ::close(fd);
}

std::string LoopbackServer::json(const std::string& body, int status)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string LoopbackServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::serve()
{
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        auto request = readRequest(client);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(request));
        }
        if (response_.empty()) {
            // Never answered: the connection stays open until the server goes.
            held_.push_back(client);
            continue;
        }
        size_t sent = 0;
        while (sent < response_.size()) {
            // A client that hangs up early must not take the test down with SIGPIPE.
            const auto wrote = ::send(client, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
            if (wrote <= 0)
                break;
            sent += size_t(wrote);
        }
        ::shutdown(client, SHUT_WR);
        ::close(client);
    }
}

std::vector<std::string> LoopbackServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string LoopbackServer::header(const std::string& name) const
{
    const auto all = requests();
    if (all.empty())
        return {};
    const auto& request = all.front();
    const auto at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const auto from = at + name.size() + 4;
    return request.substr(from, request.find("\r\n", from) - from);
}

int closedPort()
{
    int port = 0;
    ::close(bound(port));
    return port;
}
