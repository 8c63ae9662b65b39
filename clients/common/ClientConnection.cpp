#include "clients/common/ClientConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Platform.h"
#include "server/transport/Frame.h"

namespace {

constexpr size_t kReadChunk = 16384;

bool resolve(const std::string& host, uint16_t port, sockaddr_in& addr, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    std::memcpy(&addr, found->ai_addr, sizeof addr);
    addr.sin_port = htons(port);
    freeaddrinfo(found);
    return true;
}

// The "src" is not part of what the frame cutter hands on; it is read from
// the frame's JSON text, which lies just before the binary tail.
std::string frameSrc(const uint8_t* frame, int32_t consumed, int32_t binaryLength) {
    const int32_t jsonLength = consumed - 8 - binaryLength;
    const char* text = reinterpret_cast<const char*>(frame + 8);
    Json::Value root;
    if (jsonLength <= 0 || !parseStrictJson(text, text + jsonLength, root) || !root.isObject()) {
        return "";
    }
    const Json::Value& src = root["src"];
    return src.isString() ? src.asString() : "";
}

}  // namespace

int64_t monotonicMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

ClientConnection::~ClientConnection() {
    close();
}

bool ClientConnection::open(const std::string& host, uint16_t port, int timeoutMs,
                            std::string& error) {
    close();
    sockaddr_in addr{};
    if (!resolve(host, port, addr, error)) {
        return false;
    }
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int rc = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd_, POLLOUT, 0};
        rc = poll(&p, 1, timeoutMs);
        int soError = 0;
        socklen_t len = sizeof soError;
        if (rc == 0) {
            soError = ETIMEDOUT;
        } else if (rc < 0 || getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) {
            soError = errno;
        }
        rc = soError == 0 ? 0 : -1;
        errno = soError;
    }
    if (rc != 0) {
        error =
            "cannot connect to " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close();
        return false;
    }
    // Small frames (audio, replies) leave at once.
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    lastFrameMs_ = gettime2();
    return true;
}

bool ClientConnection::useKernelArrivalTimes() {
    int one = 1;
    kernelStamps_ = fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one) == 0;
    return kernelStamps_;
}

void ClientConnection::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    recvBuffer_.resetBuffer();
}

bool ClientConnection::send(const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                            int32_t length) {
    if (fd_ < 0) {
        return false;
    }
    const FramePtr frame = buildFrame(cmd, msg, "", binary, length);
    if (!frame) {
        return false;
    }
    const uint8_t* data = frame->getBuffer();
    size_t left = frame->getLen();
    while (left > 0) {
        const ssize_t n = ::send(fd_, data, left, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            left -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 1000);
            continue;
        }
        close();
        return false;
    }
    return true;
}

bool ClientConnection::cut(ClientMessage& out, ReadStatus& status) {
    for (;;) {
        const uint8_t* data = recvBuffer_.getBuffer();
        ParsedFrame frame;
        const int32_t used = cutFrame(data, recvBuffer_.getLen(), frame);
        if (used == 0) {
            return false;
        }
        if (used < 0) {
            close();
            status = ReadStatus::Malformed;
            return true;
        }
        if (frame.empty) {
            recvBuffer_.eraseData(static_cast<size_t>(used));
            continue;
        }
        out.cmd = std::move(frame.cmd);
        out.msg = std::move(frame.msg);
        out.src = frameSrc(data, used, frame.length);
        out.binary.assign(frame.binary, frame.binary + frame.length);
        out.arrivalUs = lastReadUs_;
        recvBuffer_.eraseData(static_cast<size_t>(used));
        lastFrameMs_ = gettime2();
        status = ReadStatus::Message;
        return true;
    }
}

ClientConnection::ReadStatus ClientConnection::receive(int timeoutMs) {
    if (timeoutMs > 0) {
        pollfd p{fd_, POLLIN, 0};
        const int rc = poll(&p, 1, timeoutMs);
        if (rc == 0 || (rc < 0 && errno == EINTR)) {
            return ReadStatus::Timeout;
        }
    }
    uint8_t* area = recvBuffer_.getBuffer(kReadChunk);
    iovec io{area, kReadChunk};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr header{};
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    if (kernelStamps_) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
    const ssize_t n = recvmsg(fd_, &header, 0);
    if (n > 0) {
        lastReadUs_ = monotonicMicros();
        if (kernelStamps_) {
            lastReadUs_ = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts;
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    lastReadUs_ = int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
                }
            }
        }
        recvBuffer_.appendBuffer(area, static_cast<size_t>(n));
        return ReadStatus::Message;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return ReadStatus::Timeout;
    }
    close();
    return ReadStatus::Closed;
}

ClientConnection::ReadStatus ClientConnection::fill() {
    if (fd_ < 0) {
        return ReadStatus::Closed;
    }
    for (;;) {
        const ReadStatus status = receive(0);
        if (status != ReadStatus::Message) {
            return status == ReadStatus::Timeout ? ReadStatus::Message : status;
        }
    }
}

ClientConnection::ReadStatus ClientConnection::read(int timeoutMs, ClientMessage& out) {
    const int64_t deadline = gettime2() + timeoutMs;
    for (;;) {
        if (fd_ < 0) {
            return ReadStatus::Closed;
        }
        ReadStatus status;
        if (cut(out, status)) {
            return status;
        }
        const int64_t left = deadline - gettime2();
        if (left <= 0 && timeoutMs > 0) {
            return ReadStatus::Timeout;
        }
        status = receive(left > 0 ? static_cast<int>(left) : 0);
        if (status == ReadStatus::Closed) {
            return status;
        }
        if (status == ReadStatus::Timeout && timeoutMs <= 0) {
            return status;
        }
    }
}
