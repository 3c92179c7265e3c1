#include "app/gui/d_StartForm.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

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

    // The picture is the backdrop; the four choices are buttons on it, so that the keyboard
    // and screen readers reach them as they reach any other button.
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
    p.end();
    struct Tile {
        QPushButton* button;
        double left;
        int text;
        StartChoice choice;
    };
    const Tile tiles[] = {
        {f.newTile, 9, ids::kStartNew, StartChoice::None},
        {f.openTile, 89, ids::kStartOpen, StartChoice::Open},
        {f.templateTile, 169, ids::kStartTemplate, StartChoice::SelectHtmlTemplate},
        {f.importTile, 250, ids::kStartImport, StartChoice::ImportDatabase}};
    for (const Tile& t : tiles) {
        // a button's own text does not wrap; the label inside does, also between kana
        auto* label = new QLabel(str(t.text), t.button);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QVBoxLayout(t.button);
        layout->addWidget(label);
        t.button->setAccessibleName(str(t.text));
        t.button->setGeometry(
            QRect(fromDialogUnits(t.left, 33), fromDialogUnits(t.left + 68, 122)));
        t.button->setStyleSheet(
            QStringLiteral("QPushButton { background: #f4f1e8; border: none; border-radius: 8px;"
                           " padding: 6px; }"
                           "QLabel { color: #2f5d8a; background: transparent; }"
                           "QPushButton:focus, QPushButton:hover { border: 3px solid #f2b632; }"));
        const StartChoice choice = t.choice;
        connect(t.button, &QPushButton::clicked, this, [this, choice] {
            m_choice = choice;
            accept();
        });
    }
    f.picture->setPixmap(picture);
}

d_StartForm::~d_StartForm() = default;

QPointF d_StartForm::toDialogUnits(const QPoint& pixels) const {
    return {pixels.x() / m_unitX, pixels.y() / m_unitY};
}

QPoint d_StartForm::fromDialogUnits(double x, double y) const {
    return {qRound(x * m_unitX), qRound(y * m_unitY)};
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
