#include "compose/gui/d_GraphicEdit.h"

#include <QDateTime>
#include <QFile>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "compose/gui/ColorChooser.h"
#include "compose/gui/PictureFile.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "ui_d_GraphicEdit.h"

namespace pw {

d_GraphicEdit::d_GraphicEdit(const QString& picturePath, QSize pictureSize,
                             const QString& wizardFolder, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::d_GraphicEdit>()),
      m_folder(wizardFolder),
      m_interaction(ui) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kGraphicEditTitle));
    m_ui->magnify->setText(str(ids::kGraphicMagnify));
    m_ui->shrink->setText(str(ids::kGraphicShrink));
    m_ui->revert->setText(str(ids::kGraphicRevert));
    m_ui->backgroundColor->setText(str(ids::kGraphicBackground));
    m_ui->buttons->button(QDialogButtonBox::Ok)->setText(str(ids::kButtonOk));
    m_ui->buttons->button(QDialogButtonBox::Cancel)->setText(str(ids::kButtonCancel));
    nameForAccessibility(m_ui->frame, str(ids::kGraphicFrame));
    m_ui->paneHint->setText(str(ids::kGraphicHint));
    // the panes read the frame's own size until the picture is known
    m_ui->paneSize->setText(m_placement.sizeText());
    m_ui->paneScale->setText(m_placement.scaleText());
    m_ui->paneOffset->setText(m_placement.offsetText());

    // a picture that cannot be loaded is an empty picture: only the background is drawn
    m_picture = loadPicture(picturePath).image;
    m_placement.setPictureSize(m_picture.isNull() ? pictureSize : m_picture.size());
    m_ui->frame->installEventFilter(this);

    connect(m_ui->magnify, &QPushButton::clicked, this, [this] {
        if (m_placement.magnify()) {
            redraw();
        }
    });
    connect(m_ui->shrink, &QPushButton::clicked, this, [this] {
        if (m_placement.shrink()) {
            redraw();
        }
    });
    connect(m_ui->revert, &QPushButton::clicked, this, [this] {
        m_placement.revert();
        redraw();
    });
    connect(m_ui->backgroundColor, &QPushButton::clicked, this, [this] {
        if (const auto c = chooseColor(m_background, this)) {
            m_background = *c;
            redraw();
        }
    });
    connect(m_ui->buttons, &QDialogButtonBox::accepted, this, &d_GraphicEdit::accept);
    connect(m_ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    redraw();
}

d_GraphicEdit::~d_GraphicEdit() = default;

QImage d_GraphicEdit::renderFrame() const {
    QImage frame(GraphicPlacement::kFrameWidth, GraphicPlacement::kFrameHeight,
                 QImage::Format_RGB16);
    frame.fill(m_background);
    if (!m_picture.isNull()) {
        QPainter p(&frame);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(m_placement.target(), m_picture);
    }
    return frame;
}

void d_GraphicEdit::redraw() {
    m_ui->frame->setPixmap(QPixmap::fromImage(renderFrame()));
    m_ui->paneSize->setText(m_placement.sizeText());
    m_ui->paneScale->setText(m_placement.scaleText());
    m_ui->paneOffset->setText(m_placement.offsetText());
}

bool d_GraphicEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->frame) {
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                const auto* e = static_cast<QMouseEvent*>(event);
                if (e->button() == Qt::LeftButton) {
                    m_dragging = true;
                    m_last = e->position().toPoint();
                    return true;
                }
                break;
            }
            case QEvent::MouseMove:
                if (m_dragging) {
                    const QPoint now = static_cast<QMouseEvent*>(event)->position().toPoint();
                    m_placement.drag(now - m_last);
                    m_last = now;
                    redraw();
                    return true;
                }
                break;
            case QEvent::MouseButtonRelease:
                m_dragging = false;
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void d_GraphicEdit::accept() {
    const QString path = editedPicturePath(m_folder, QDateTime::currentDateTime());
    QImageWriter writer(path, "JPEG");
    if (!writer.write(renderFrame().convertToFormat(QImage::Format_RGB32))) {
        QFile::remove(path);
        (void)inform(m_interaction,
                     str(ids::kGraphicSaveFailed).replace(QLatin1StringView("%1"), path));
        return;
    }
    m_written = path;
    QDialog::accept();
}

}  // namespace pw
