#include "clients/common/PasswordDigest.h"

#include <cctype>

#include "common/Md5.h"

std::string passwordDigest(const std::string& typed) {
    std::string hex = getMd5(typed.data(), typed.size());
    for (char& c : hex) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex;
}
