#include "server/core/JsonText.h"

#include <exception>
#include <memory>

std::string compactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value) + "\n";
}

bool parseStoredJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = false;
    builder["strictRoot"] = true;
    builder["allowDroppedNullPlaceholders"] = false;
    builder["allowNumericKeys"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    out = Json::Value();
    try {
        if (reader->parse(text.data(), text.data() + text.size(), &out, &errors)) {
            return true;
        }
    } catch (const std::exception&) {
        // Nesting past the reader's depth limit is thrown, not reported.
    }
    out = Json::Value();
    return false;
}
