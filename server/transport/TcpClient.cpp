#include "server/transport/TcpClient.h"

#include <exception>
#include <span>
#include <utility>

#include "common/Logger.h"
#include "server/transport/TcpServer.h"

namespace {
// The most frames one gathered write takes; the socket layer caps a write
// at this many pieces anyway.
constexpr size_t kMaxGather = 64;
}  // namespace

TcpClient::TcpClient(boost::asio::io_context& io, TcpServer& server)
    : io(io),
      server(server),
      sock(io),
      readBuffer(std::make_unique_for_overwrite<uint8_t[]>(kReadSize)),
      stallTimer(io) {}

void TcpClient::startRead() {
    sock.async_read_some(boost::asio::buffer(readBuffer.get(), kReadSize),
                         [self = shared_from_this()](const boost::system::error_code& error,
                                                     size_t count) { self->onRead(error, count); });
}

void TcpClient::onRead(const boost::system::error_code& error, size_t count) {
    if (error) {
        reportDisconnect();
        return;
    }
    recvBuffer.appendBuffer(readBuffer.get(), count);
    // Every complete frame of this read is handled before the next read.
    int32_t used;
    while ((used = parseFrame()) > 0) {
        if (closed) {
            return;
        }
    }
    if (used < 0) {
        gLogger().logout("malformed frame from %s id '%s', connection closed", addr.c_str(),
                         id.c_str());
        closeSocket();
        reportDisconnect();
        return;
    }
    startRead();
}

int32_t TcpClient::parseFrame() {
    ParsedFrame frame;
    const int32_t used = cutFrame(recvBuffer.getBuffer(), recvBuffer.getLen(), frame);
    if (used > 0) {
        if (!frame.empty) {
            dispatch(frame);
        }
        recvBuffer.eraseData(static_cast<size_t>(used));
    }
    return used;
}

void TcpClient::dispatch(const ParsedFrame& frame) {
    // A copy: "register" changes id while the handler runs.
    const std::string connId = id;
    // One bad message costs only itself.
    try {
        server.onCmd(shared_from_this(), connId, frame.cmd, frame.msg, frame.binary, frame.length);
    } catch (const std::exception& e) {
        gLogger().logout("cmd err: %s: %s", frame.cmd.c_str(), e.what());
    } catch (...) {
        gLogger().logout("cmd err: %s: unknown error", frame.cmd.c_str());
    }
}

void TcpClient::send(FramePtr frame) {
    if (!frame) {
        return;
    }
    // On the loop thread the frame is queued at once, which keeps the order
    // of everything that thread sends; other threads hand it over.
    if (io.get_executor().running_in_this_thread()) {
        doSend(std::move(frame));
        return;
    }
    boost::asio::post(io, [self = shared_from_this(), frame = std::move(frame)]() mutable {
        self->doSend(std::move(frame));
    });
}

void TcpClient::doSend(FramePtr frame) {
    if (closed) {
        return;
    }
    const size_t size = frame->getLen();
    if (queuedBytes + size > server.sendLimits().maxQueuedBytes) {
        drop("send queue over its limit");
        return;
    }
    sendQueue.push_back(std::move(frame));
    queuedBytes += size;
    if (!writing) {
        // The write starts once the current handler is done, so that every
        // frame queued meanwhile (a tick's worth of jobs) leaves in one write.
        writing = true;
        lastProgress = Clock::now();
        boost::asio::post(io, [self = shared_from_this()] { self->startWrite(); });
    }
}

void TcpClient::startWrite() {
    if (closed) {
        writing = false;
        releaseQueue();
        return;
    }
    writeBuffers.clear();
    size_t skip = frontWritten;
    for (const FramePtr& frame : sendQueue) {
        if (writeBuffers.size() == kMaxGather) {
            break;
        }
        writeBuffers.emplace_back(frame->getBuffer() + skip, frame->getLen() - skip);
        skip = 0;
    }
    writing = true;
    sock.async_write_some(
        std::span<const boost::asio::const_buffer>(writeBuffers),
        [self = shared_from_this()](const boost::system::error_code& error, size_t count) {
            self->onWrite(error, count);
        });
    armStallTimer();
}

void TcpClient::onWrite(const boost::system::error_code& error, size_t count) {
    writing = false;
    if (error && !closed) {
        closeSocket();
        reportDisconnect();
    }
    if (closed) {
        releaseQueue();
        return;
    }
    lastProgress = Clock::now();
    consumeWritten(count);
    if (!sendQueue.empty()) {
        startWrite();
    }
}

void TcpClient::releaseQueue() {
    sendQueue.clear();
    queuedBytes = 0;
    frontWritten = 0;
}

void TcpClient::consumeWritten(size_t count) {
    while (count > 0) {
        const size_t size = sendQueue.front()->getLen();
        const size_t left = size - frontWritten;
        if (count < left) {
            frontWritten += count;
            return;
        }
        count -= left;
        queuedBytes -= size;
        frontWritten = 0;
        sendQueue.pop_front();
    }
}

void TcpClient::armStallTimer() {
    // At most one wait per stall period, however many writes happen in it.
    if (stallTimerArmed) {
        return;
    }
    stallTimerArmed = true;
    stallTimer.expires_at(lastProgress + server.sendLimits().stallTimeout);
    // Weak: a waiting timer must not keep the connection alive.
    stallTimer.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
        if (auto self = weak.lock()) {
            self->onStallTimer(error);
        }
    });
}

void TcpClient::onStallTimer(const boost::system::error_code& error) {
    stallTimerArmed = false;
    if (error || closed || !writing) {
        return;
    }
    if (Clock::now() - lastProgress >= server.sendLimits().stallTimeout) {
        drop("no write progress within its limit");
        return;
    }
    armStallTimer();
}

void TcpClient::drop(const char* why) {
    gLogger().logout("drop connection %s id '%s': %s (%zu bytes queued)", addr.c_str(), id.c_str(),
                     why, queuedBytes);
    closeSocket();
    // Reported from the loop, not from inside whatever delivery got us here.
    boost::asio::post(io, [self = shared_from_this()] { self->reportDisconnect(); });
}

void TcpClient::closeSocket() {
    closed = true;
    boost::system::error_code ignored;
    sock.close(ignored);
}

void TcpClient::reportDisconnect() {
    if (disconnectReported) {
        return;
    }
    disconnectReported = true;
    try {
        server.onDisconnect(shared_from_this());
    } catch (const std::exception& e) {
        gLogger().logout("disconnect err: %s: %s", addr.c_str(), e.what());
    }
}
