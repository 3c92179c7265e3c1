#include "print/gui/PrintChoosers.h"

#include <QFontDialog>
#include <QPrintDialog>
#include <QPrinter>

#include "resources/Strings.h"

namespace pw::print {

bool QtPrintChoosers::printDialog(QPrinter& printer, QWidget* parent) {
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrintChoosers::printerSetup(QPrinter& printer, QWidget* parent) {
    // The printer and its paper, without the range and copies of a printout.
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(str(ids::PRINT_PRINTER_SETUP));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile);
    dialog.setMinMax(1, 1);
    return dialog.exec() == QDialog::Accepted;
}

std::optional<QString> QtPrintChoosers::fontFace(const QString& face, QWidget* parent) {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, QFont(face), parent);
    if (!ok) {
        return std::nullopt;
    }
    return chosen.family();
}

}  // namespace pw::print
