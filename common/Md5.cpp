#include "common/Md5.h"

#include <cstdio>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

namespace {

struct Md5Deleter {
    void operator()(AVMD5* ctx) const { av_free(ctx); }
};

std::string toHex(const uint8_t digest[16]) {
    static const char* kDigits = "0123456789ABCDEF";
    std::string hex(32, '0');
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0xF];
    }
    return hex;
}

bool digestFile(const std::string& path, int64_t offset, int64_t count, std::string& out) {
    if (offset < 0 || count < 0) {
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f || fseeko(f.get(), offset, SEEK_SET) != 0) {
        return false;
    }
    std::unique_ptr<AVMD5, Md5Deleter> ctx(av_md5_alloc());
    if (!ctx) {
        return false;
    }
    av_md5_init(ctx.get());
    std::vector<uint8_t> chunk(1 << 16);
    int64_t left = count;
    while (left > 0) {
        size_t want =
            static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
        size_t got = std::fread(chunk.data(), 1, want, f.get());
        if (got > 0) {
            av_md5_update(ctx.get(), chunk.data(), got);
            left -= static_cast<int64_t>(got);
        }
        if (got < want) {
            if (std::ferror(f.get())) {
                return false;
            }
            break;
        }
    }
    uint8_t digest[16];
    av_md5_final(ctx.get(), digest);
    out = toHex(digest);
    return true;
}

}  // namespace

bool getMd5(const std::string& path, std::string& out) {
    return digestFile(path, 0, INT64_MAX, out);
}

bool getMd5(const std::string& path, std::string& out, int64_t offset, int64_t count) {
    return digestFile(path, offset, count, out);
}

std::string getMd5(const void* block, size_t length) {
    uint8_t digest[16];
    av_md5_sum(digest, static_cast<const uint8_t*>(block), length);
    return toHex(digest);
}
