#pragma once
// The preview frame "Preview - Tabular information": the preview view and a File menu. Its
// close box ends the preview; the frame itself is kept for the next one.

#include <QMainWindow>

class QPrinter;

namespace pw::print {

class CPrintDBGridPVw;

class CPrintDBGrid : public QMainWindow {
    Q_OBJECT
public:
    CPrintDBGrid(QPrinter* printer, QWidget* parent);
    ~CPrintDBGrid() override;
    [[nodiscard]] CPrintDBGridPVw* previewView() const { return m_view; }

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CPrintDBGridPVw* m_view;
};

}  // namespace pw::print
