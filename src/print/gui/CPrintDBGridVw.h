#pragma once
// The print view: lays the grid out for a printer at the beginning of every printout or
// preview, and draws each page with one routine for the preview and the printer alike.

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

#include "print/GridPageLayout.h"
#include "print/gui/PrintText.h"
#include "resources/UserInteraction.h"

class QPainter;
class QPrinter;

namespace pw::print {

enum class PrintOutcome { Printed, NothingToPrint, Stopped, Failed };

class CPrintDBGridVw : public QObject {
    Q_OBJECT
public:
    explicit CPrintDBGridVw(IUserInteraction& ui, QObject* parent = nullptr);
    ~CPrintDBGridVw() override;

    void setGrid(IPrintGrid* grid) { m_grid = grid; }
    void setColumns(std::vector<TColumnEh> columns) { m_columns = std::move(columns); }
    [[nodiscard]] const std::vector<TColumnEh>& columns() const { return m_columns; }
    void setSettings(const PrintSettings& settings) { m_settings = settings; }
    [[nodiscard]] const PrintSettings& settings() const { return m_settings; }
    // The screen resolution the grid's widths and font are given in.
    void setScreenDpi(int x, int y);
    // Asked between measured rows and between printed pages; true stops the work.
    void setStopCheck(std::function<bool()> stop) { m_stop = std::move(stop); }

    // What this printer reports of itself, as the layout reads it.
    [[nodiscard]] DeviceMetrics deviceMetrics(const QPrinter& printer) const;

    // The layout for this printer. False, after telling the user, when nothing can be laid out.
    [[nodiscard]] bool beginPrinting(QPrinter& printer);
    [[nodiscard]] const GridLayout& layout() const { return m_layout; }
    [[nodiscard]] const QFont& printFont() const { return m_font.font; }

    // Draws page n (from 1) of the current layout.
    void drawPage(QPainter& painter, int page) const;

    // Lays out and puts every page of the printer's page range onto it; the preview calls this
    // for its printer as a printout does, with a progress display when asked.
    // Reuse takes the layout of the last beginPrinting on this printer.
    enum class Progress { None, Shown };
    enum class Layout { Anew, Reuse };
    PrintOutcome printPages(QPrinter& printer, Progress progress = Progress::None,
                            Layout layout = Layout::Anew);

signals:
    void laidOut(int pageCount);

private:
    IUserInteraction& m_ui;
    IPrintGrid* m_grid = nullptr;
    std::vector<TColumnEh> m_columns;
    PrintSettings m_settings;
    int m_screenDpiX;
    int m_screenDpiY;
    std::function<bool()> m_stop;
    ResolvedFont m_font;
    GridLayout m_layout;
    bool m_laidOut = false;
    QString m_warnedFont;  // the missing face the user has been told of already
};

}  // namespace pw::print
