#include "print/gui/CPrintDBGridPVw.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QPrintPreviewWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "resources/Strings.h"

namespace pw::print {

namespace {

struct ZoomChoice {
    CPrintDBGridPVw::Zoom zoom;
    const char* name;
    const char* label;  // a percentage, or empty for a text of the table
    int text;
    double factor;
};

const ZoomChoice kZooms[] = {
    {CPrintDBGridPVw::Zoom::P500, "zoom500", "500%", 0, 5.0},
    {CPrintDBGridPVw::Zoom::P200, "zoom200", "200%", 0, 2.0},
    {CPrintDBGridPVw::Zoom::P150, "zoom150", "150%", 0, 1.5},
    {CPrintDBGridPVw::Zoom::P100, "zoom100", "100%", 0, 1.0},
    {CPrintDBGridPVw::Zoom::P75, "zoom75", "75%", 0, 0.75},
    {CPrintDBGridPVw::Zoom::P50, "zoom50", "50%", 0, 0.5},
    {CPrintDBGridPVw::Zoom::P25, "zoom25", "25%", 0, 0.25},
    {CPrintDBGridPVw::Zoom::P10, "zoom10", "10%", 0, 0.1},
    {CPrintDBGridPVw::Zoom::PageWidth, "zoomPageWidth", "", ids::PRINT_PAGE_WIDTH, 0},
    {CPrintDBGridPVw::Zoom::WholePage, "zoomWholePage", "", ids::PRINT_WHOLE_PAGE, 0},
};

}  // namespace

QAction* CPrintDBGridPVw::addAction(const char* name, int text, void (CPrintDBGridPVw::*signal)()) {
    QAction* action = m_toolBar->addAction(str(text));
    action->setObjectName(QLatin1String(name));
    if (signal != nullptr) {
        connect(action, &QAction::triggered, this, signal);
    }
    if (QWidget* button = m_toolBar->widgetForAction(action)) {
        button->setObjectName(QLatin1String(name) + QLatin1String("Button"));
        button->setAccessibleName(str(text));
    }
    return action;
}

CPrintDBGridPVw::CPrintDBGridPVw(QPrinter* printer, QWidget* parent)
    : QWidget(parent),
      m_toolBar(new QToolBar(this)),
      m_preview(new QPrintPreviewWidget(printer, this)) {
    setObjectName(QStringLiteral("CPrintDBGridPVw"));
    m_toolBar->setObjectName(QStringLiteral("previewToolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_preview->setObjectName(QStringLiteral("previewWidget"));
    m_preview->setAccessibleName(str(ids::PRINT_PREVIEW_TITLE));

    addAction("print", ids::PRINT_PRINT, &CPrintDBGridPVw::printRequested);
    addAction("printerSetup", ids::PRINT_PRINTER_SETUP, &CPrintDBGridPVw::printerSetupRequested);

    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("scaleMenu"));
    m_zoomGroup = new QActionGroup(this);
    for (const ZoomChoice& z : kZooms) {
        QAction* a = menu->addAction(z.text != 0 ? str(z.text) : QLatin1String(z.label));
        a->setObjectName(QLatin1String(z.name));
        a->setCheckable(true);
        a->setChecked(z.zoom == m_zoom);
        m_zoomGroup->addAction(a);
        const Zoom zoom = z.zoom;
        connect(a, &QAction::triggered, this, [this, zoom] { setZoom(zoom); });
    }
    m_scaleButton = new QToolButton(this);
    m_scaleButton->setObjectName(QStringLiteral("scaleButton"));
    m_scaleButton->setText(str(ids::PRINT_SCALE));
    m_scaleButton->setAccessibleName(str(ids::PRINT_SCALE));
    m_scaleButton->setMenu(menu);
    m_scaleButton->setPopupMode(QToolButton::InstantPopup);
    m_toolBar->addWidget(m_scaleButton);

    m_previous = addAction("previous", ids::PRINT_PREVIOUS, nullptr);
    connect(m_previous, &QAction::triggered, this, [this] { showPage(currentPage() - 1); });
    m_next = addAction("next", ids::PRINT_NEXT, nullptr);
    connect(m_next, &QAction::triggered, this, [this] { showPage(currentPage() + 1); });
    addAction("stop", ids::PRINT_STOP, &CPrintDBGridPVw::stopRequested);
    addAction("close", ids::PRINT_CLOSE, &CPrintDBGridPVw::closeRequested);
    m_toolBar->addSeparator();
    addAction("pdf", ids::PRINT_PDF, &CPrintDBGridPVw::pdfRequested);
    m_toolBar->addSeparator();
    m_pageLabel = new QLabel(this);
    m_pageLabel->setObjectName(QStringLiteral("pageLabel"));
    m_toolBar->addWidget(m_pageLabel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_preview, 1);

    connect(m_preview, &QPrintPreviewWidget::paintRequested, this,
            &CPrintDBGridPVw::paintRequested);
    connect(m_preview, &QPrintPreviewWidget::previewChanged, this,
            &CPrintDBGridPVw::updatePageControls);
}

CPrintDBGridPVw::~CPrintDBGridPVw() = default;

void CPrintDBGridPVw::start() {
    m_preview->updatePreview();
    setZoom(Zoom::WholePage);
    showPage(1);
}

void CPrintDBGridPVw::setZoom(Zoom zoom) {
    m_zoom = zoom;
    for (const ZoomChoice& z : kZooms) {
        if (z.zoom != zoom) {
            continue;
        }
        if (QAction* a = findChild<QAction*>(QLatin1String(z.name))) {
            a->setChecked(true);
        }
        if (zoom == Zoom::WholePage) {
            m_preview->fitInView();
        } else if (zoom == Zoom::PageWidth) {
            m_preview->fitToWidth();
        } else {
            m_preview->setZoomMode(QPrintPreviewWidget::CustomZoom);
            m_preview->setZoomFactor(z.factor);
        }
    }
}

int CPrintDBGridPVw::currentPage() const {
    return m_preview->currentPage();
}

int CPrintDBGridPVw::pageCount() const {
    return m_preview->pageCount();
}

void CPrintDBGridPVw::showPage(int page) {
    if (page >= 1 && page <= pageCount()) {
        m_preview->setCurrentPage(page);
    }
    updatePageControls();
}

void CPrintDBGridPVw::updatePageControls() {
    const int page = currentPage();
    const int count = pageCount();
    m_previous->setEnabled(page > 1);
    m_next->setEnabled(page < count);
    m_pageLabel->setText(str(ids::PRINT_PAGE_OF).arg(page).arg(count));
}

}  // namespace pw::print
