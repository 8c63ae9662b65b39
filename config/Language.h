#pragma once
// The translation layer's plain part: which language file to load and the
// loaded texts. The tool is single-threaded; main thread only.

#include <map>
#include <string>

// The stored language value as a tag: "ChineseTraditional" gives "zh-TW",
// "English" gives "en-US" (exact, case-sensitive); anything else, "zh-CN"
// included, is used unchanged.
std::string mapLanguageTag(const std::string& value);

// The name a language file carries for a tag: "zh-cn", "zh_CN" and
// "zh-Hans" all give "zh-CN". A tag of other shape is kept as it is.
std::string getCompatibleLanguageName(const std::string& tag);

// "./language/SonavelConfig.<name>.xml", relative to the program folder.
std::string languageFilePath(const std::string& compatibleName);

// The one section that holds the tool's run-time texts.
std::string translationSectionKey();
// The section that holds the texts of dialog resource dialogId.
std::string dialogSectionKey(int dialogId);

// Translations by section and source text.
class LanguageTable {
public:
    void clear() { sections_.clear(); }
    bool empty() const { return sections_.empty(); }
    void add(const std::string& section, const std::string& source, const std::string& text);
    bool contains(const std::string& section, const std::string& source) const;
    // The translation, or source itself when the table has none.
    std::string lookup(const std::string& section, const std::string& source) const;

private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

// The process's loaded language.
LanguageTable& loadedLanguage();

// lookup in the loaded language.
std::string translate(const std::string& text, const std::string& key);
