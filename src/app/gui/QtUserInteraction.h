#pragma once
// Message boxes and progress displays shown with Qt widgets.

#include <QPointer>
#include <QWidget>

#include "resources/UserInteraction.h"

namespace pw::app {

class QtUserInteraction : public IUserInteraction {
public:
    // Boxes are centred on the parent, which may change (the main window once it exists).
    void setParent(QWidget* parent) { m_parent = parent; }

    Answer message(const QString& caption, const QString& text, MessageKind kind) override;
    std::unique_ptr<IProgress> createProgress() override;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace pw::app
