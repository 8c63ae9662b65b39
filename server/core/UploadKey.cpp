#include "server/core/UploadKey.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <vector>

#include "common/Md5.h"
#include "common/TextUtil.h"

namespace {

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

bool parseSize(const std::string& text, int64_t& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool fileSize(const std::string& path, int64_t& out) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    out = static_cast<int64_t>(st.st_size);
    return true;
}

}  // namespace

std::string frontBackKey(const std::string& front, const std::string& back, int64_t size) {
    char sizeText[24];
    std::snprintf(sizeText, sizeof sizeText, "%lld", static_cast<long long>(size));
    return upper(front) + "-" + upper(back) + "-" + sizeText;
}

int64_t backRangeOffset(int64_t size) {
    return size > kUploadRange ? size - kUploadRange : 0;
}

bool verifyUploadKey(const std::string& key, const std::string& path) {
    std::vector<std::string> pieces;
    strSplit(key, '-', pieces);
    if (pieces.size() == 1) {
        std::string digest;
        return getMd5(path, digest) && digest == key;
    }
    if (pieces.size() != 3) {
        return false;
    }
    int64_t size = 0;
    int64_t actual = 0;
    if (!parseSize(pieces[2], size) || !fileSize(path, actual) || actual != size) {
        return false;
    }
    std::string front;
    std::string back;
    return getMd5(path, front, 0, kUploadRange) && front == pieces[0] &&
           getMd5(path, back, backRangeOffset(size), kUploadRange) && back == pieces[1];
}

bool uploadFileName(const std::string& clientName, std::string& out) {
    size_t cut = clientName.find_last_of("/\\");
    out = cut == std::string::npos ? clientName : clientName.substr(cut + 1);
    return !out.empty() && out != "." && out != ".." && out.find('\0') == std::string::npos;
}
