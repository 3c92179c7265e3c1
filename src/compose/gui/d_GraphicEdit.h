#pragma once
// "Graphic Edit": fits a picture into the templates' picture frame (drag to move, Magnify and
// Shrink to scale, a background colour) and writes the framed result as a new JPEG file into
// the wizard folder.

#include <QColor>
#include <QDialog>
#include <QImage>
#include <memory>

#include "compose/GraphicPlacement.h"

namespace Ui {
class d_GraphicEdit;
}

namespace pw {

class IUserInteraction;

class d_GraphicEdit : public QDialog {
    Q_OBJECT
public:
    d_GraphicEdit(const QString& picturePath, QSize pictureSize, const QString& wizardFolder,
                  IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_GraphicEdit() override;

    // After OK: the full path of the JPEG written.
    [[nodiscard]] const QString& writtenPath() const { return m_written; }
    [[nodiscard]] const GraphicPlacement& placement() const { return m_placement; }
    // The frame as it is drawn on the screen and written at the end.
    [[nodiscard]] QImage renderFrame() const;

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void redraw();

    std::unique_ptr<Ui::d_GraphicEdit> m_ui;
    QImage m_picture;
    GraphicPlacement m_placement;
    QColor m_background = Qt::white;
    QString m_folder;
    IUserInteraction& m_interaction;
    QString m_written;
    bool m_dragging = false;
    QPoint m_last;
};

}  // namespace pw
