#include "tests/host/HttpProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/Platform.h"

namespace {

int connectLoopback(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int connectWithin(uint16_t port, int timeoutMs) {
    int64_t deadline = gettime2() + timeoutMs;
    for (;;) {
        int fd = connectLoopback(port);
        if (fd >= 0 || gettime2() > deadline) {
            return fd;
        }
        usleep(20000);
    }
}

}  // namespace

uint16_t freeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool waitForListening(uint16_t port, int timeoutMs) {
    int fd = connectWithin(port, timeoutMs);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

std::string httpGet(uint16_t port, const std::string& path, int timeoutMs) {
    int fd = connectWithin(port, timeoutMs);
    if (fd < 0) {
        return "";
    }
    timeval tv{timeoutMs / 1000 + 1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    std::string response;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        char buf[4096];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
            response.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    return response;
}
