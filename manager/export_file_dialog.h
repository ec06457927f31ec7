#pragma once
// The save dialog of the certificate export, replaceable so that tests answer it without a modal loop.

#include <QString>

#include <functional>

class QWidget;

using ExportFileAsker = std::function<QString(QWidget* parent, const QString& caption, const QString& proposedName)>;

// The chosen path, or empty when the user cancelled.
QString askExportFileName(QWidget* parent, const QString& caption, const QString& proposedName);

// Replaces the dialog; an empty asker brings the real dialog back.
void setExportFileAsker(ExportFileAsker asker);
