#include "dbtools/gui/d_FieldShow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QMetaObject>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::dbtools {

d_FieldShow::d_FieldShow(db::TDbData& store, QWidget* parent)
    : QWidget(parent, Qt::Tool), m_store(store) {
    setObjectName(QStringLiteral("d_FieldShow"));
    setWindowTitle(str(ids::kFieldWindowTitle));
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(1);
    column->setContentsMargins(10, 10, 10, 10);
    for (int k = 0; k < db::kFieldCount; ++k) {
        m_buttons[k] = new QPushButton;
        m_buttons[k]->setObjectName(QStringLiteral("field%1").arg(1006 + k));
        m_buttons[k]->setFlat(true);
        m_buttons[k]->setFocusPolicy(Qt::NoFocus);  // the focus stays where the text goes
        connect(m_buttons[k], &QPushButton::clicked, this, [this, k] { insertPlaceholder(k); });
        column->addWidget(m_buttons[k]);
    }
    column->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    relabel();
    resize(sizeHint().width(), 420);
    connect(qApp, &QApplication::focusChanged, this, &d_FieldShow::focusMoved);
    m_store.AddObserver(this);
}

d_FieldShow::~d_FieldShow() {
    // closing the window moves the focus: no call into what is already destroyed
    disconnect(qApp, nullptr, this, nullptr);
    m_store.RemoveObserver(this);
}

void d_FieldShow::relabel() {
    for (int k = 0; k < db::kFieldCount; ++k) {
        m_buttons[k]->setText(m_store.FieldCaptions().Captions()[k]);
        m_buttons[k]->setAccessibleName(m_store.FieldCaptions().Captions()[k]);
    }
}

void d_FieldShow::focusMoved(QWidget* old, QWidget* now) {
    // The window the user worked in before coming here is where the placeholder goes.
    if (old && old->window() != this && (!now || now->window() == this))
        m_previous = old->window();
    else if (now && now->window() != this)
        m_previous = now->window();
}

void d_FieldShow::insertPlaceholder(int field) {
    if (field < 0 || field >= db::kFieldCount)
        return;
    const QString text =
        QStringLiteral("[[") + m_store.FieldCaptions().Captions()[field] + QStringLiteral("]]");
    QApplication::clipboard()->setText(text);
    QWidget* target = m_previous;
    if (!target || (target->objectName() != kMainWindowName && target->objectName() != kWizardName))
        return;
    target->activateWindow();
    if (deliver && deliver(target, text))
        return;
    QWidget* focus = target->focusWidget();
    if (!focus)
        return;
    // Every text control of Qt has a paste slot; the text comes from the clipboard as a paste.
    QMetaObject::invokeMethod(focus, "paste");
}

void d_FieldShow::closeEvent(QCloseEvent* event) {
    event->accept();
    hide();
    emit visibilityChanged(false);
}

void d_FieldShow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit visibilityChanged(true);
}

}  // namespace pw::dbtools
