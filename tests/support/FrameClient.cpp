#include "tests/support/FrameClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace {

uint32_t readU32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    }
    return value;
}

void appendU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

FrameClient::FrameClient(uint16_t port, int receiveBufferSize) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    if (receiveBufferSize > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
}

FrameClient::~FrameClient() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool FrameClient::sendRaw(const std::string& bytes) {
    size_t sent = 0;
    while (fd >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return fd >= 0;
}

bool FrameClient::sendFrame(const std::string& cmd, const Json::Value& msg,
                            const std::string& binary) {
    Json::Value root(Json::objectValue);
    root["cmd"] = cmd;
    root["msg"] = msg;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return sendRaw(encode(Json::writeString(writer, root) + "\n", binary));
}

bool FrameClient::sendRegister(const std::string& devId) {
    Json::Value msg;
    msg["devId"] = devId;
    return sendFrame("register", msg);
}

std::string FrameClient::encode(const std::string& json, const std::string& binary) {
    std::string out;
    appendU32(out, static_cast<uint32_t>(json.size() + binary.size() + 4));
    appendU32(out, static_cast<uint32_t>(json.size()));
    return out + json + binary;
}

bool FrameClient::fill(int timeoutMs) {
    if (fd < 0) {
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0) {
        return false;
    }
    char chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
        return false;
    }
    pending.append(chunk, static_cast<size_t>(n));
    return true;
}

std::optional<FrameClient::Frame> FrameClient::readFrame(int timeoutMs) {
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        if (pending.size() >= 8) {
            const uint32_t n = readU32(pending, 0);
            const uint32_t j = readU32(pending, 4);
            if (n < 4 || j > n - 4) {
                return std::nullopt;
            }
            if (pending.size() >= size_t{n} + 4) {
                Frame frame;
                frame.json = pending.substr(8, j);
                frame.binary = pending.substr(8 + j, n - 4 - j);
                pending.erase(0, size_t{n} + 4);
                Json::Value root;
                Json::CharReaderBuilder builder;
                std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
                if (!reader->parse(frame.json.data(), frame.json.data() + frame.json.size(), &root,
                                   nullptr) ||
                    !root.isObject()) {
                    return std::nullopt;
                }
                frame.cmd = root["cmd"].asString();
                frame.msg = root["msg"];
                frame.src = root["src"].asString();
                return frame;
            }
        }
        if (!fill(static_cast<int>(deadline - nowMs()))) {
            return std::nullopt;
        }
    }
}

std::optional<FrameClient::Frame> FrameClient::readMessage(int timeoutMs) {
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        auto frame = readFrame(static_cast<int>(deadline - nowMs()));
        if (!frame || frame->cmd != "heartbeat") {
            return frame;
        }
    }
}

bool FrameClient::waitClosed(int timeoutMs) {
    const int64_t deadline = nowMs() + timeoutMs;
    char chunk[65536];
    while (fd >= 0) {
        const int64_t left = deadline - nowMs();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return !(n < 0 && errno == EINTR);
        }
    }
    return true;
}
