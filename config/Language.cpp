#include "config/Language.h"

#include <algorithm>
#include <cctype>

#include "common/TextUtil.h"

namespace {

std::string changeCase(std::string text, int (*convert)(int)) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [convert](unsigned char c) { return static_cast<char>(convert(c)); });
    return text;
}

bool isAlpha(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isalpha(c) != 0; });
}

}  // namespace

std::string mapLanguageTag(const std::string& value) {
    if (value == "ChineseTraditional") {
        return "zh-TW";
    }
    if (value == "English") {
        return "en-US";
    }
    return value;
}

std::string getCompatibleLanguageName(const std::string& tag) {
    std::string text = tag;
    strReplace(text, "_", "-");
    size_t dash = text.find('-');
    std::string lang = changeCase(text.substr(0, dash), ::tolower);
    std::string rest = dash == std::string::npos ? "" : text.substr(dash + 1);
    if (lang.size() != 2 || !isAlpha(lang) || rest.find('-') != std::string::npos) {
        return tag;
    }
    std::string region = changeCase(rest, ::toupper);
    // Script subtags name the Chinese file of the same writing.
    if (lang == "zh" && (region == "HANS" || region == "SG" || region.empty())) {
        region = "CN";
    } else if (lang == "zh" && (region == "HANT" || region == "HK" || region == "MO")) {
        region = "TW";
    } else if (lang == "en" && region.empty()) {
        region = "US";
    }
    if (region.empty()) {
        return lang;
    }
    return region.size() == 2 && isAlpha(region) ? lang + "-" + region : tag;
}

std::string languageFilePath(const std::string& compatibleName) {
    return "./language/SonavelConfig." + compatibleName + ".xml";
}

std::string translationSectionKey() {
    return changeCase(getFileName("SonavelConfigDlg.cpp", ""), ::tolower);
}

std::string dialogSectionKey(int dialogId) {
    return "dialog-" + std::to_string(dialogId);
}

void LanguageTable::add(const std::string& section, const std::string& source,
                        const std::string& text) {
    sections_[section][source] = text;
}

bool LanguageTable::contains(const std::string& section, const std::string& source) const {
    auto s = sections_.find(section);
    return s != sections_.end() && s->second.count(source) != 0;
}

std::string LanguageTable::lookup(const std::string& section, const std::string& source) const {
    auto s = sections_.find(section);
    if (s == sections_.end()) {
        return source;
    }
    auto t = s->second.find(source);
    return t == s->second.end() ? source : t->second;
}

LanguageTable& loadedLanguage() {
    static LanguageTable table;
    return table;
}

std::string translate(const std::string& text, const std::string& key) {
    return loadedLanguage().lookup(key, text);
}
