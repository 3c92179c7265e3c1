#pragma once
// The system dialogs that grid printing opens: print, printer choice, font. The application
// shows Qt's dialogs; tests answer them from a script.

#include <QString>
#include <optional>

class QPrinter;
class QWidget;

namespace pw::print {

class IPrintChoosers {
public:
    virtual ~IPrintChoosers() = default;
    // The print dialog (printer, copies, range) on this printer; false when cancelled.
    [[nodiscard]] virtual bool printDialog(QPrinter& printer, QWidget* parent) = 0;
    // The printer choice alone; false when cancelled.
    [[nodiscard]] virtual bool printerSetup(QPrinter& printer, QWidget* parent) = 0;
    // A font face, preset with face; nothing when cancelled.
    [[nodiscard]] virtual std::optional<QString> fontFace(const QString& face, QWidget* parent) = 0;
};

// Qt's own dialogs.
class QtPrintChoosers : public IPrintChoosers {
public:
    bool printDialog(QPrinter& printer, QWidget* parent) override;
    bool printerSetup(QPrinter& printer, QWidget* parent) override;
    std::optional<QString> fontFace(const QString& face, QWidget* parent) override;
};

}  // namespace pw::print
