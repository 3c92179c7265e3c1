#pragma once
// The grid printing of one editor window: its page settings, column choice and printer, the
// "Page Setting..." and "Print..." commands, and the preview they lead to. The editor makes
// one when it opens (so every opening starts from the default settings) and destroys it, with
// the preview, when it closes.

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "print/PrintGrid.h"
#include "print/gui/CPrintDBGrid.h"
#include "print/gui/CPrintDBGridVw.h"
#include "resources/UserInteraction.h"

class QPrinter;
class QWidget;

namespace pw::print {

class IPrintChoosers;

class GridPrinting : public QObject {
    Q_OBJECT
public:
    GridPrinting(IPrintGrid& grid, IUserInteraction& ui, IPrintChoosers& choosers, QWidget* editor);
    ~GridPrinting() override;

    [[nodiscard]] PrintSettings& settings() { return m_settings; }
    [[nodiscard]] const std::vector<bool>& columnChoice() const { return m_choice; }
    // For printing without asking (a PDF of chosen columns); "Print..." asks anew each time.
    void setColumnChoice(std::vector<bool> choice) { m_choice = std::move(choice); }
    [[nodiscard]] QPrinter& printer() { return *m_printer; }
    [[nodiscard]] CPrintDBGridVw& view() { return *m_view; }
    [[nodiscard]] CPrintDBGrid* frame() const { return m_frame; }
    [[nodiscard]] bool isPreviewOpen() const { return m_previewOpen; }

    // "Page Setting...": the page settings dialog, modal.
    void pageSetting();
    // "Print...": the column choice, then the preview (or the open preview brought forward).
    void print();
    // Ends the preview, keeping its frame for the next one.
    void endPreview();
    // The preview's "Print": ends the preview and prints through the print dialog.
    void printFromPreview();
    // The preview's "PDF...": the pages as the current printer lays them out, into a PDF file.
    void printToPdf();
    // Prints the current column choice into this PDF file; false after telling the user why not.
    [[nodiscard]] bool writePdf(const QString& path);
    void requestStop() { m_stopRequested = true; }
    [[nodiscard]] bool stopRequested() const { return m_stopRequested; }

private:
    void prepareView();

    IPrintGrid& m_grid;
    IUserInteraction& m_ui;
    IPrintChoosers& m_choosers;
    QWidget* m_editor;
    PrintSettings m_settings;
    std::vector<bool> m_choice;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<CPrintDBGridVw> m_view;
    QPointer<CPrintDBGrid> m_frame;  // a child window of the editor
    bool m_previewOpen = false;
    bool m_stopRequested = false;
    bool m_reuseLayout = false;
};

}  // namespace pw::print
