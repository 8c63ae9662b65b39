#pragma once
// The translation layer's Qt part. GUI thread.

#include <QString>

class QWidget;

// Replaces the caption and the texts of labels, buttons and group boxes of
// dialog by their translations in the texts of dialog resource dialogId.
void setDialogLanguage(QWidget* dialog, int dialogId);

// The tool's one translation function for run-time texts. Inside QObject
// members call it as ::tr, which QObject::tr would otherwise hide.
QString tr(const char* text);
