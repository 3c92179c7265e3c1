#pragma once
// "Printer setup": margins, fitting and the print font of the grid printing.

#include <QDialog>
#include <memory>

#include "print/PrintGrid.h"

class QPrinter;
namespace Ui {
class d_PrinterSetup;
}

namespace pw::print {

class IPrintChoosers;

class d_PrinterSetup : public QDialog {
    Q_OBJECT
public:
    // OK stores into settings; the "Printer Setup" button chooses the printer for printer.
    d_PrinterSetup(PrintSettings& settings, QPrinter& printer, IPrintChoosers& choosers,
                   QWidget* parent = nullptr);
    ~d_PrinterSetup() override;

    void accept() override;

private:
    void chooseFont();
    std::unique_ptr<Ui::d_PrinterSetup> m_ui;
    PrintSettings& m_settings;
    QPrinter& m_printer;
    IPrintChoosers& m_choosers;
    QString m_fontName;
};

}  // namespace pw::print
