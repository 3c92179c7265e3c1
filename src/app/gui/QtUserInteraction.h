#pragma once
// Message boxes, file choosers and progress displays shown with Qt widgets.

#include <QPointer>
#include <QWidget>

#include "resources/UserInteraction.h"

namespace pw::app {

class QtUserInteraction : public IUserInteraction {
public:
    // Boxes are centred on the parent, which may change (the main window once it exists).
    void setParent(QWidget* parent) { m_parent = parent; }
    [[nodiscard]] QWidget* parent() const { return m_parent; }

    Answer message(const QString& caption, const QString& text, MessageKind kind) override;
    int choose(const ChoiceRequest& request) override;
    int showReport(const ReportRequest& request) override;
    QStringList chooseFiles(const FileRequest& request) override;
    std::optional<QString> askText(const TextRequest& request) override;
    bool openUrl(const QString& url) override;
    std::unique_ptr<IProgress> createProgress() override;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace pw::app
