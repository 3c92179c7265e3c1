#include "print/gui/CPrintDBGrid.h"

#include <QCloseEvent>
#include <QMenuBar>

#include "print/gui/CPrintDBGridPVw.h"
#include "resources/Strings.h"

namespace pw::print {

CPrintDBGrid::CPrintDBGrid(QPrinter* printer, QWidget* parent)
    : QMainWindow(parent, Qt::Window), m_view(new CPrintDBGridPVw(printer, this)) {
    setObjectName(QStringLiteral("CPrintDBGrid"));
    setWindowTitle(str(ids::PRINT_PREVIEW_TITLE));
    setCentralWidget(m_view);
    QMenu* file = menuBar()->addMenu(str(ids::PRINT_FILE_MENU));
    file->setObjectName(QStringLiteral("fileMenu"));
    QAction* exit = file->addAction(str(ids::PRINT_EXIT));
    exit->setObjectName(QStringLiteral("exit"));
    connect(exit, &QAction::triggered, this, &CPrintDBGrid::closeRequested);
    connect(m_view, &CPrintDBGridPVw::closeRequested, this, &CPrintDBGrid::closeRequested);
}

CPrintDBGrid::~CPrintDBGrid() = default;

void CPrintDBGrid::closeEvent(QCloseEvent* event) {
    event->ignore();
    emit closeRequested();
}

}  // namespace pw::print
