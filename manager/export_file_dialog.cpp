#include "export_file_dialog.h"

#include <QFileDialog>

#include <utility>

namespace {

ExportFileAsker& AskerSlot() {
    static ExportFileAsker asker;
    return asker;
}

} // namespace

QString askExportFileName(QWidget* parent, const QString& caption, const QString& proposedName) {
    if (AskerSlot())
        return AskerSlot()(parent, caption, proposedName);
    return QFileDialog::getSaveFileName(parent, caption, proposedName);
}

void setExportFileAsker(ExportFileAsker asker) {
    AskerSlot() = std::move(asker);
}
