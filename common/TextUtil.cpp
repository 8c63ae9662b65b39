#include "common/TextUtil.h"

#include <cstring>

namespace {

// Decodes one UTF-8 sequence; malformed bytes become U+FFFD one at a time.
char32_t decodeUtf8(const std::string& s, size_t& i) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int extra = (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        auto c = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    return cp;
}

void encodeUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x110000) {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        encodeUtf8(0xFFFD, out);
    }
}

template <typename S>
S replaceAll(S& text, const S& from, const S& to) {
    if (!from.empty()) {
        for (size_t pos = text.find(from); pos != S::npos; pos = text.find(from, pos + to.size())) {
            text.replace(pos, from.size(), to);
        }
    }
    return text;
}

}  // namespace

std::wstring str2wstr(const std::string& text, unsigned) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        out += static_cast<wchar_t>(decodeUtf8(text, i));
    }
    return out;
}

std::wstring str2wstr(const char* text, unsigned codePage) {
    return str2wstr(std::string(text ? text : ""), codePage);
}

std::string wstr2str(const std::wstring& text, unsigned) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        encodeUtf8(static_cast<char32_t>(c), out);
    }
    return out;
}

std::string wstr2str(const wchar_t* text, unsigned codePage) {
    return wstr2str(std::wstring(text ? text : L""), codePage);
}

std::vector<std::string>& strSplit(const std::string& text, const std::string& sep,
                                   std::vector<std::string>& out) {
    if (sep.empty()) {
        if (!text.empty()) {
            out.push_back(text);
        }
        return out;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t pos = text.find(sep, start);
        size_t end = pos == std::string::npos ? text.size() : pos;
        if (end > start) {
            out.push_back(text.substr(start, end - start));
        }
        if (pos == std::string::npos) {
            break;
        }
        start = pos + sep.size();
    }
    return out;
}

std::vector<std::string>& strSplit(const std::string& text, char sep,
                                   std::vector<std::string>& out) {
    return strSplit(text, std::string(1, sep), out);
}

std::string strReplace(std::string& text, const std::string& from, const std::string& to) {
    return replaceAll(text, from, to);
}

std::wstring strReplace(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    return replaceAll(text, from, to);
}

std::wstring int2string(int64_t value) {
    return std::to_wstring(value);
}

std::string int2stringA(int64_t value) {
    return std::to_string(value);
}

std::string ip2string(uint32_t storedAddress) {
    unsigned char b[4];
    std::memcpy(b, &storedAddress, 4);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

std::string getFileName(const std::string& path, const std::string& newExt) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot != std::string::npos && dot != 0) {
        name.erase(dot);
    }
    if (!newExt.empty()) {
        name += newExt.front() == '.' ? newExt : "." + newExt;
    }
    return name;
}
