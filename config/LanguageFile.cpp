#include "config/LanguageFile.h"

#include <QFile>
#include <QXmlStreamReader>

#include "config/Language.h"

namespace {

// Reads the <text> elements of one <dialog> or <section> into table.
void readTexts(QXmlStreamReader& xml, const std::string& section, LanguageTable& table) {
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("text")) {
            xml.skipCurrentElement();
            continue;
        }
        std::string source = xml.attributes().value("source").toString().toStdString();
        std::string text = xml.readElementText().toStdString();
        // An empty translation would blank a control; keep the source instead.
        if (!source.empty() && !text.empty()) {
            table.add(section, source, text);
        }
    }
}

}  // namespace

bool loadLanguage(const std::string& path) {
    LanguageTable& table = loadedLanguage();
    table.clear();
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("language")) {
        return false;
    }
    LanguageTable loaded;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("dialog")) {
            bool ok = false;
            int id = xml.attributes().value("id").toInt(&ok);
            if (!ok) {
                xml.skipCurrentElement();
                continue;
            }
            readTexts(xml, dialogSectionKey(id), loaded);
        } else if (xml.name() == QLatin1String("section")) {
            readTexts(xml, xml.attributes().value("key").toString().toStdString(), loaded);
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        return false;
    }
    table = loaded;
    return true;
}
