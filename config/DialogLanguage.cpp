#include "config/DialogLanguage.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include "config/Language.h"

namespace {

QString translated(const std::string& section, const QString& text) {
    return QString::fromStdString(loadedLanguage().lookup(section, text.toStdString()));
}

}  // namespace

void setDialogLanguage(QWidget* dialog, int dialogId) {
    const std::string section = dialogSectionKey(dialogId);
    dialog->setWindowTitle(translated(section, dialog->windowTitle()));
    for (auto* label : dialog->findChildren<QLabel*>()) {
        label->setText(translated(section, label->text()));
    }
    for (auto* button : dialog->findChildren<QAbstractButton*>()) {
        button->setText(translated(section, button->text()));
    }
    for (auto* group : dialog->findChildren<QGroupBox*>()) {
        group->setTitle(translated(section, group->title()));
    }
}

QString tr(const char* text) {
    return QString::fromStdString(translate(text, translationSectionKey()));
}
