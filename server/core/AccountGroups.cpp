#include "server/core/AccountGroups.h"

#include "common/TextUtil.h"

std::string joinAccountGroups(const std::vector<std::string>& ids) {
    std::string text;
    for (const auto& id : ids) {
        text += id;
        text += ',';
    }
    return text;
}

std::vector<std::string> splitAccountGroups(const std::string& text) {
    std::vector<std::string> pieces;
    strSplit(text, ',', pieces);
    return pieces;
}
