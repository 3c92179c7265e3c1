#pragma once
// The preview view: the printer's pages as the print view draws them, with the toolbar
// "Print", "Printer Setup", "Scale", "Previous", "Next", "Stop", "Close" (and "PDF...").

#include <QWidget>

class QAction;
class QActionGroup;
class QLabel;
class QPrinter;
class QPrintPreviewWidget;
class QToolBar;
class QToolButton;

namespace pw::print {

class CPrintDBGridPVw : public QWidget {
    Q_OBJECT
public:
    // The zoom choices of "Scale", in menu order.
    enum class Zoom { P500, P200, P150, P100, P75, P50, P25, P10, PageWidth, WholePage };

    explicit CPrintDBGridPVw(QPrinter* printer, QWidget* parent = nullptr);
    ~CPrintDBGridPVw() override;

    // Renders the pages anew, shows page 1 at "Whole Page".
    void start();
    void setZoom(Zoom zoom);
    [[nodiscard]] Zoom zoom() const { return m_zoom; }
    [[nodiscard]] int currentPage() const;
    [[nodiscard]] int pageCount() const;
    void showPage(int page);
    [[nodiscard]] QPrintPreviewWidget* previewWidget() const { return m_preview; }
    [[nodiscard]] QToolBar* toolBar() const { return m_toolBar; }

signals:
    void paintRequested(QPrinter* printer);
    void printRequested();
    void printerSetupRequested();
    void pdfRequested();
    void stopRequested();
    void closeRequested();

private:
    void updatePageControls();
    QAction* addAction(const char* name, int text, void (CPrintDBGridPVw::*signal)());

    QToolBar* m_toolBar;
    QPrintPreviewWidget* m_preview;
    QToolButton* m_scaleButton = nullptr;
    QActionGroup* m_zoomGroup = nullptr;
    QAction* m_previous = nullptr;
    QAction* m_next = nullptr;
    QLabel* m_pageLabel = nullptr;
    Zoom m_zoom = Zoom::WholePage;
};

}  // namespace pw::print
