#include "app/gui/d_StartForm.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "resources/Strings.h"
#include "ui_d_StartForm.h"

namespace pw::app {

d_StartForm::d_StartForm(bool& startShortcut, QWidget* parent)
    : QDialog(parent), m_form(std::make_unique<Ui::d_StartForm>()), m_startShortcut(startShortcut) {
    Ui::d_StartForm& f = *m_form;
    f.setupUi(this);
    setWindowTitle(productName());
    f.exitButton->setText(str(ids::kStartExit));
    f.exitButton->setAccessibleName(str(ids::kStartExit));
    f.displayNextTime->setText(str(ids::kStartDisplayNextTime));
    f.displayNextTime->setAccessibleName(str(ids::kStartDisplayNextTime));
    f.displayNextTime->setChecked(true);
    // clicks on the picture are the dialog's
    f.picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    f.picture->setAccessibleName(str(ids::kStartPicture));

    // Dialog units as the system has them: a quarter of the average character width, an
    // eighth of the character height.
    const QFontMetricsF metrics(font());
    m_unitX = metrics.averageCharWidth() / 4.0;
    m_unitY = metrics.height() / 8.0;
    setFixedSize(fromDialogUnits(328, 157).x(), fromDialogUnits(328, 157).y());
    const QPoint pictureSize = fromDialogUnits(328, 133);
    f.picture->setGeometry(0, 0, pictureSize.x(), pictureSize.y());
    const QPoint exitAt = fromDialogUnits(270, 138);
    const QPoint exitSize = fromDialogUnits(50, 14);
    f.exitButton->setGeometry(exitAt.x(), exitAt.y(), exitSize.x(), exitSize.y());
    const QPoint checkAt = fromDialogUnits(9, 140);
    const QPoint checkSize = fromDialogUnits(200, 10);
    f.displayNextTime->setGeometry(checkAt.x(), checkAt.y(), checkSize.x(), checkSize.y());
    connect(f.exitButton, &QPushButton::clicked, this, [this] {
        m_end = StartEnd::ExitProgram;
        reject();
    });

    // The picture: the four choices, drawn in the dialog's own font and language.
    QPixmap picture(pictureSize.x(), pictureSize.y());
    picture.fill(QColor(0x2f, 0x5d, 0x8a));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QFont title = font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(fromDialogUnits(9, 6), fromDialogUnits(318, 28)),
               Qt::AlignLeft | Qt::AlignVCenter, productName());
    p.setFont(font());
    static constexpr double kLeft[] = {9, 89, 169, 250};
    static constexpr int kText[] = {ids::kStartNew, ids::kStartOpen, ids::kStartTemplate,
                                    ids::kStartImport};
    for (int i = 0; i < 4; ++i) {
        const QRect area(fromDialogUnits(kLeft[i], 33), fromDialogUnits(kLeft[i] + 68, 33 + 89));
        p.setBrush(QColor(0xf4, 0xf1, 0xe8));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(area, 8, 8);
        p.setPen(QColor(0x2f, 0x5d, 0x8a));
        p.drawText(area.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap, str(kText[i]));
    }
    p.end();
    f.picture->setPixmap(picture);
}

d_StartForm::~d_StartForm() = default;

QPointF d_StartForm::toDialogUnits(const QPoint& pixels) const {
    return {pixels.x() / m_unitX, pixels.y() / m_unitY};
}

QPoint d_StartForm::fromDialogUnits(double x, double y) const {
    return {int(x * m_unitX + 0.5), int(y * m_unitY + 0.5)};
}

void d_StartForm::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    const QPointF at = toDialogUnits(event->position().toPoint());
    m_choice = StartChoiceAt(at.x(), at.y());
    accept();
}

void d_StartForm::done(int result) {
    m_startShortcut = m_form->displayNextTime->isChecked();
    QDialog::done(result);
}

}  // namespace pw::app
