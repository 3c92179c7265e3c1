#include "print/gui/CPrintDBGridVw.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <QScreen>

#include "resources/Strings.h"

namespace pw::print {

namespace {

QRect toRect(const Box& b) {
    return QRect(b.left, b.top, b.width(), b.height());
}

// The header's face in the grid: a light grey, which a monochrome printout leaves out.
const QColor kHeaderShade(0xE8, 0xE8, 0xE8);

void drawLines(QPainter& painter, const QFontMetrics& metrics, const QStringList& lines,
               const Box& box, ColumnAlignment align) {
    int y = box.top;
    for (const QString& line : lines) {
        // Only whole lines: a line cut through its middle would show half characters.
        if (y + metrics.height() > box.bottom && y != box.top) {
            break;
        }
        int x = box.left;
        if (align != ColumnAlignment::Left) {
            const int free = box.width() - metrics.horizontalAdvance(line);
            x += align == ColumnAlignment::Right ? free : free / 2;
        }
        painter.drawText(QPoint(x, y + metrics.ascent()), line);
        y += metrics.height();
    }
}

void drawCheckBox(QPainter& painter, const Box& cell, bool checked, int inset) {
    const int side = std::max(1, std::min(cell.width(), cell.height()) - 2 * inset);
    const int x = cell.left + (cell.width() - side) / 2;
    const int y = cell.top + (cell.height() - side) / 2;
    painter.drawRect(QRect(x, y, side, side));
    if (checked) {
        const QPoint mark[] = {{x + side / 5, y + side / 2},
                               {x + side * 2 / 5, y + side * 3 / 4},
                               {x + side * 4 / 5, y + side / 4}};
        QPen pen = painter.pen();
        QPen thick = pen;
        thick.setWidth(std::max(1, side / 8));
        painter.setPen(thick);
        painter.drawPolyline(mark, 3);
        painter.setPen(pen);
    }
}

}  // namespace

CPrintDBGridVw::CPrintDBGridVw(IUserInteraction& ui, QObject* parent)
    : QObject(parent), m_ui(ui), m_screenDpiX(96), m_screenDpiY(96) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        m_screenDpiX = qRound(screen->logicalDotsPerInchX());
        m_screenDpiY = qRound(screen->logicalDotsPerInchY());
    }
}

CPrintDBGridVw::~CPrintDBGridVw() = default;

void CPrintDBGridVw::setScreenDpi(int x, int y) {
    m_screenDpiX = x;
    m_screenDpiY = y;
}

DeviceMetrics CPrintDBGridVw::deviceMetrics(const QPrinter& printer) const {
    DeviceMetrics d;
    d.screenDpiX = m_screenDpiX;
    d.screenDpiY = m_screenDpiY;
    d.dpiX = printer.logicalDpiX();
    d.dpiY = printer.logicalDpiY();
    const QRectF paint = printer.pageRect(QPrinter::DevicePixel);
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    d.pageWidth = qRound(paint.width());
    d.pageHeight = qRound(paint.height());
    d.offsetX = qRound(paint.left() - paper.left());
    d.offsetY = qRound(paint.top() - paper.top());
    return d;
}

bool CPrintDBGridVw::beginPrinting(QPrinter& printer) {
    m_laidOut = false;
    if (m_grid == nullptr) {
        return false;
    }
    m_font = resolvePrintFont(m_grid->font(), m_settings.fontName);
    if (m_font.missing && m_warnedFont != m_font.requested) {
        m_warnedFont = m_font.requested;
        (void)inform(m_ui, str(ids::PRINT_FONT_MISSING).arg(m_font.requested));
    }
    PrinterTextMeasure measure(m_font.font, &printer);
    m_layout = layoutGrid(deviceMetrics(printer), m_settings, m_columns, *m_grid, measure, m_stop);
    if (m_layout.outcome == LayoutOutcome::NoPrintableArea) {
        (void)inform(m_ui, str(ids::PRINT_NO_ROOM));
        return false;
    }
    if (m_layout.outcome != LayoutOutcome::Ok) {
        return false;
    }
    m_laidOut = true;
    emit laidOut(m_layout.pageCount);
    return true;
}

void CPrintDBGridVw::drawPage(QPainter& painter, int page) const {
    if (!m_laidOut || m_grid == nullptr) {
        return;
    }
    painter.save();
    if (m_layout.scaled) {
        const double f = static_cast<double>(m_layout.scaleDrawn) / m_layout.scaleTable;
        painter.scale(f, f);
    }
    QFont font = m_font.font;
    font.setPixelSize(m_layout.drawFontHeight);
    painter.setFont(font);
    QPen pen(Qt::black);
    // A thin rule (about 0.13 mm): one device unit vanishes on a fine printer.
    pen.setWidth(std::max(1, m_layout.lw / 2));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const CellTextBreaker breaker(font, painter.device());

    const PagePlan plan = planPage(m_layout, page);
    for (const PageCell& c : plan.header) {
        if (m_settings.colored) {
            painter.fillRect(toRect(c.cell), kHeaderShade);
        }
        const TColumnEh& column = m_layout.columns[c.printColumn];
        const QStringList lines = breaker.lines(column.caption, c.text.width(), Wrap::SingleLine);
        drawLines(painter, breaker.metrics(), lines.mid(0, 1), c.text, column.alignment);
    }
    const Wrap wrap = m_layout.wrap ? Wrap::AtWords : Wrap::SingleLine;
    for (const PageCell& c : plan.cells) {
        const QString text = m_grid->cellText(c.row, c.gridColumn);
        if (isCheckColumn(c.gridColumn)) {
            drawCheckBox(painter, c.cell, text == QLatin1String(kCheckedCellText),
                         std::max(m_layout.hp, m_layout.vp));
        } else if (!text.isEmpty()) {
            drawLines(painter, breaker.metrics(), breaker.lines(text, c.text.width(), wrap), c.text,
                      ColumnAlignment::Left);
        }
    }
    for (const auto& line : plan.ruling) {
        painter.drawPolyline(line.data(), static_cast<int>(line.size()));
    }
    painter.restore();
}

PrintOutcome CPrintDBGridVw::printPages(QPrinter& printer, Progress progress, Layout layout) {
    if (!(layout == Layout::Reuse && m_laidOut) && !beginPrinting(printer)) {
        return m_layout.outcome == LayoutOutcome::Stopped ? PrintOutcome::Stopped
                                                          : PrintOutcome::NothingToPrint;
    }
    int first = 1;
    int last = m_layout.pageCount;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = std::max(1, printer.fromPage());
        last = std::min(last, printer.toPage() > 0 ? printer.toPage() : last);
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        (void)inform(m_ui, str(ids::PRINT_PRINTER_FAILED));
        return PrintOutcome::Failed;
    }
    std::unique_ptr<IProgress> display;
    if (progress == Progress::Shown) {
        display = m_ui.createProgress();
        display->setCaption(str(ids::PRINT_PRINTING));
        display->setRange(0, std::max(0, last - first + 1));
        display->setCancellable();
        display->show();
    }
    for (int page = first; page <= last; ++page) {
        if (page != first) {
            if ((m_stop && m_stop()) || (display && display->cancelRequested())) {
                printer.abort();
                painter.end();
                if (display) {
                    display->hide();
                }
                return PrintOutcome::Stopped;
            }
            printer.newPage();
        }
        if (display) {
            display->setText(str(ids::PRINT_PRINTING_PAGE).arg(page).arg(last));
            display->setPosition(page - first);
        }
        drawPage(painter, page);
    }
    painter.end();
    if (display) {
        display->hide();
    }
    return printer.printerState() == QPrinter::Error ? PrintOutcome::Failed : PrintOutcome::Printed;
}

}  // namespace pw::print
