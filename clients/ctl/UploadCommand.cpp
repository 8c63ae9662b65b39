// upload FILE [--name NAME]: front and back digests first, so that a file the
// server already holds is not sent again; then the bytes in pieces, a few
// pieces ahead of the replies, with a progress bar on a terminal.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOutput.h"
#include "common/Md5.h"

namespace {

constexpr int64_t kDigestRange = 2097152;
constexpr size_t kPieceBytes = 65536;
// Pieces sent ahead of their replies: keeps the pipe full without letting
// replies pile up unread.
constexpr int kWindow = 8;

int replyCode(const ClientMessage& m) {
    return m.msg.isObject() && m.msg["code"].isIntegral() ? m.msg["code"].asInt() : -1;
}

void showProgress(int64_t sent, int64_t size) {
    const int width = 40;
    const int64_t permille = size > 0 ? sent * 1000 / size : 1000;
    const int filled = static_cast<int>(permille * width / 1000);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), static_cast<int>(permille / 10));
    std::fflush(stderr);
}

}  // namespace

int runUploadCommand(CtlContext& ctx) {
    const std::string path = ctx.args[0];
    const size_t slash = path.rfind('/');
    const std::string name =
        ctx.options.value("name", slash == std::string::npos ? path : path.substr(slash + 1));
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return fail("bad file name for the server: " + name);
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return fail("cannot read " + path);
    }
    const int64_t size = st.st_size;
    std::string front;
    std::string back;
    if (!getMd5(path, front, 0, kDigestRange) ||
        !getMd5(path, back, std::max<int64_t>(0, size - kDigestRange), kDigestRange)) {
        return fail("cannot read " + path);
    }
    Json::Value start;
    start["fileName"] = name;
    start["md5_front"] = front;
    start["md5_back"] = back;
    start["size"] = Json::Int64(size);
    Json::Value reply;
    std::string error;
    if (!ctx.client.request("upload-file-start", start, "upload-file-response", reply, error)) {
        return fail(error);
    }
    Json::Value result;
    result["file"] = name;
    result["size"] = Json::Int64(size);
    const int startCode =
        reply.isObject() && reply["code"].isIntegral() ? reply["code"].asInt() : -1;
    if (startCode == 1) {
        result["sent"] = false;
        if (ctx.options.json) {
            printJson(result);
        } else {
            std::cout << name << ": already on the server, not sent" << std::endl;
        }
        return 0;
    }
    if (startCode != 0) {
        return fail("the server refused the upload of " + name);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return fail("cannot read " + path);
    }
    const bool progress = !ctx.options.json && isatty(STDERR_FILENO);
    auto isReply = [](const ClientMessage& m) { return m.cmd == "upload-file-response"; };
    std::vector<uint8_t> piece(kPieceBytes);
    int64_t sent = 0;
    int pending = 0;
    ClientMessage m;
    for (;;) {
        const size_t n = std::fread(piece.data(), 1, piece.size(), file.get());
        if (n == 0) {
            break;
        }
        if (!ctx.client.send("upload-file-data", Json::Value(), piece.data(),
                             static_cast<int32_t>(n))) {
            return fail("the connection to the server failed");
        }
        sent += static_cast<int64_t>(n);
        if (++pending > kWindow) {
            if (!ctx.client.waitFor(isReply, m, error)) {
                return fail(error);
            }
            if (replyCode(m) != 0) {
                return fail("the server stopped the upload of " + name);
            }
            --pending;
        }
        if (progress) {
            showProgress(sent, size);
        }
    }
    if (std::ferror(file.get()) || sent != size) {
        ctx.client.send("upload-file-terminate", Json::Value());
        return fail("reading " + path + " failed; upload abandoned");
    }
    for (; pending > 0; --pending) {
        if (!ctx.client.waitFor(isReply, m, error)) {
            return fail(error);
        }
        if (replyCode(m) != 0) {
            return fail("the server stopped the upload of " + name);
        }
    }
    if (progress) {
        showProgress(size, size);
        std::fputc('\n', stderr);
    }
    if (!ctx.client.request("upload-file-end", Json::Value(), "upload-file-response", reply,
                            error)) {
        return fail(error);
    }
    if (!reply.isObject() || !reply["code"].isIntegral() || reply["code"].asInt() != 0) {
        return fail("the server rejected " + name + ": what it stored does not match the digests");
    }
    result["sent"] = true;
    if (ctx.options.json) {
        printJson(result);
    } else {
        std::cout << name << ": uploaded, " << size << " bytes" << std::endl;
    }
    return 0;
}
