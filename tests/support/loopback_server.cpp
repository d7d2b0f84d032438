#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return char(std::tolower(c));
    });
    return text;
}

// The whole request: headers, then as many body bytes as Content-Length says.
std::string readRequest(int fd)
{
    std::string data;
    char buffer[4096];
    for (;;) {
        const auto end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
            const auto length = LoopbackServer::header(data.substr(0, end + 2), "Content-Length");
            if (data.size() >= end + 4 + (length.empty() ? 0 : std::stoul(length)))
                return data;
        }
        const auto got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return data;
        data.append(buffer, size_t(got));
    }
}

}

LoopbackServer::LoopbackServer(Handler handler) : LoopbackServer(std::move(handler), {}) { }

LoopbackServer::LoopbackServer(std::string response) : LoopbackServer(nullptr, std::move(response)) { }

LoopbackServer::LoopbackServer(Handler handler, std::string response)
    : handler_(std::move(handler)), response_(std::move(response))
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
            requests_.push_back(request);
        }
        if (handler_) {
            handler_(request, client);
            ::shutdown(client, SHUT_RDWR);
        } else if (response_.empty()) {
            // Never answered: the connection stays open until the server goes.
            held_.push_back(client);
            continue;
        } else {
            send(client, response_);
            ::shutdown(client, SHUT_WR);
        }
        ::close(client);
    }
}

std::string LoopbackServer::json(const std::string& body, int status)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

bool LoopbackServer::send(int socket, const std::string& bytes)
{
    size_t offset = 0;
    while (offset < bytes.size()) {
        // A client that hangs up early must not take the test down with SIGPIPE.
        const ssize_t count = ::send(socket, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        offset += size_t(count);
    }
    return true;
}

std::string LoopbackServer::header(const std::string& request, const std::string& name)
{
    const auto end = request.find("\r\n\r\n");
    const auto head = end == std::string::npos ? request : request.substr(0, end + 2);
    const auto at = lowered(head).find("\r\n" + lowered(name) + ":");
    if (at == std::string::npos)
        return {};
    const auto start = at + name.size() + 3;
    std::string value = head.substr(start, head.find("\r\n", start) - start);
    value.erase(0, value.find_first_not_of(' '));
    return value;
}

std::string LoopbackServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string LoopbackServer::header(const std::string& name) const
{
    const auto all = requests();
    return all.empty() ? std::string() : header(all.front(), name);
}

int closedPort()
{
    int port = 0;
    ::close(bound(port));
    return port;
}
