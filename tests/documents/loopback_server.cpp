#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            std::string head;
            char c;
            while (head.find("\r\n\r\n") == std::string::npos && ::recv(client, &c, 1, 0) == 1)
                head += c;
            {
                std::lock_guard lock(mutex_);
                heads_.push_back(head);
            }
            handler_(head, client);
            ::shutdown(client, SHUT_RDWR);
            ::close(client);
        }
    });
}

LoopbackServer::~LoopbackServer()
{
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
}

std::string LoopbackServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::heads() const
{
    std::lock_guard lock(mutex_);
    return heads_;
}

bool LoopbackServer::send(int socket, const std::string& bytes)
{
    size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t count = ::send(socket, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        offset += size_t(count);
    }
    return true;
}

std::string LoopbackServer::header(const std::string& head, const std::string& name)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return char(std::tolower(c));
    });
    std::string wanted = "\r\n" + name + ":";
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](unsigned char c) {
        return char(std::tolower(c));
    });
    const auto at = lower.find(wanted);
    if (at == std::string::npos)
        return {};
    const auto start = at + wanted.size();
    const auto end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    value.erase(0, value.find_first_not_of(' '));
    return value;
}
