#include "print/gui/GridPrinting.h"

#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QWidget>
#include <algorithm>

#include "print/gui/CPrintDBGrid.h"
#include "print/gui/CPrintDBGridPVw.h"
#include "print/gui/PrintChoosers.h"
#include "print/gui/d_DBPrintSelectForm.h"
#include "print/gui/d_PrinterSetup.h"
#include "resources/Strings.h"

namespace pw::print {

GridPrinting::GridPrinting(IPrintGrid& grid, IUserInteraction& ui, IPrintChoosers& choosers,
                           QWidget* editor)
    : m_grid(grid),
      m_ui(ui),
      m_choosers(choosers),
      m_editor(editor),
      m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution)),
      m_view(std::make_unique<CPrintDBGridVw>(ui)) {
    m_view->setGrid(&m_grid);
    m_view->setStopCheck([this] { return m_stopRequested; });
}

GridPrinting::~GridPrinting() {
    delete m_frame.data();
}

void GridPrinting::pageSetting() {
    d_PrinterSetup dialog(m_settings, *m_printer, m_choosers, m_editor);
    (void)dialog.exec();
}

void GridPrinting::prepareView() {
    m_view->setColumns(printColumns(m_grid, m_choice));
    m_view->setSettings(m_settings);
    if (m_editor != nullptr) {
        m_view->setScreenDpi(m_editor->logicalDpiX(), m_editor->logicalDpiY());
    }
}

void GridPrinting::print() {
    if (m_previewOpen && m_frame) {
        m_frame->raise();
        m_frame->activateWindow();
        return;
    }
    const int columns = m_grid.columnCount();
    m_choice.assign(static_cast<size_t>(columns), true);
    QStringList headers;
    for (int i = 0; i < columns; ++i) {
        headers << m_grid.headerText(i);
    }
    d_DBPrintSelectForm select(headers, m_choice, m_editor);
    if (select.exec() != QDialog::Accepted) {
        return;
    }
    // Nothing to lay out, or no printer to lay it out for: the preview cannot start, and
    // saying nothing would leave the user waiting for it.
    if (std::find(m_choice.begin(), m_choice.end(), true) == m_choice.end() ||
        !m_printer->isValid()) {
        (void)inform(m_ui, str(ids::PRINT_COMMAND_FAILED));
        return;
    }
    m_grid.fetchAll();
    prepareView();
    m_stopRequested = false;
    // Laid out once before the frame shows, so that margins leaving no room end here with
    // their message rather than in an empty preview.
    if (!m_view->beginPrinting(*m_printer)) {
        return;
    }
    if (!m_frame) {
        m_frame = new CPrintDBGrid(m_printer.get(), m_editor);
        CPrintDBGridPVw* pvw = m_frame->previewView();
        connect(pvw, &CPrintDBGridPVw::paintRequested, this, [this](QPrinter* printer) {
            const auto reuse =
                m_reuseLayout ? CPrintDBGridVw::Layout::Reuse : CPrintDBGridVw::Layout::Anew;
            m_reuseLayout = false;
            (void)m_view->printPages(*printer, CPrintDBGridVw::Progress::None, reuse);
        });
        connect(pvw, &CPrintDBGridPVw::printRequested, this, &GridPrinting::printFromPreview);
        connect(pvw, &CPrintDBGridPVw::printerSetupRequested, this, &GridPrinting::pageSetting);
        connect(pvw, &CPrintDBGridPVw::pdfRequested, this, &GridPrinting::printToPdf);
        connect(pvw, &CPrintDBGridPVw::stopRequested, this, &GridPrinting::requestStop);
        connect(m_frame, &CPrintDBGrid::closeRequested, this, &GridPrinting::endPreview);
    }
    m_previewOpen = true;
    m_reuseLayout = true;
    m_frame->setWindowTitle(str(ids::PRINT_PREVIEW_TITLE));
    m_frame->showMaximized();
    m_frame->previewView()->start();
}

void GridPrinting::endPreview() {
    if (!m_previewOpen) {
        return;
    }
    m_previewOpen = false;
    if (m_frame) {
        m_frame->hide();
    }
    if (m_editor != nullptr) {
        m_editor->raise();
        m_editor->activateWindow();
    }
}

void GridPrinting::printFromPreview() {
    endPreview();
    if (!m_choosers.printDialog(*m_printer, m_editor)) {
        return;
    }
    m_stopRequested = false;
    prepareView();
    (void)m_view->printPages(*m_printer, CPrintDBGridVw::Progress::Shown);
}

void GridPrinting::printToPdf() {
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = str(ids::PRINT_PDF_TITLE);
    request.filters = str(ids::PRINT_PDF_FILTER);
    request.defaultSuffix = QStringLiteral("pdf");
    const QStringList chosen = m_ui.chooseFiles(request);
    if (chosen.isEmpty() || chosen.front().isEmpty()) {
        return;
    }
    const QString& path = chosen.front();
    (void)writePdf(QFileInfo(path).suffix().isEmpty() ? path + QLatin1String(".pdf") : path);
}

bool GridPrinting::writePdf(const QString& path) {
    {
        // Qt's PDF output reports an unwritable file only as a painter that does not start.
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly)) {
            (void)inform(
                m_ui,
                str(ids::PRINT_PDF_FAILED).arg(path + QLatin1String("\n") + probe.errorString()));
            return false;
        }
    }
    QPrinter pdf(QPrinter::HighResolution);
    pdf.setOutputFormat(QPrinter::PdfFormat);
    pdf.setPageLayout(m_printer->pageLayout());
    pdf.setOutputFileName(path);
    pdf.setDocName(str(ids::PRINT_PREVIEW_TITLE));
    m_stopRequested = false;
    prepareView();
    const PrintOutcome outcome = m_view->printPages(pdf, CPrintDBGridVw::Progress::Shown);
    if (outcome != PrintOutcome::Printed) {
        QFile::remove(path);  // a PDF cut short is no use to anyone
        if (outcome == PrintOutcome::Failed) {
            (void)inform(m_ui, str(ids::PRINT_PDF_FAILED).arg(path));
        }
        return false;
    }
    return true;
}

}  // namespace pw::print
