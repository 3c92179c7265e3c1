#pragma once
// The HTML template wizard's window: one page per marked block of the template, a large
// view of the page, the template's own picture of it, the page's tools and the text box.

#include <QDialog>
#include <memory>

#include "compose/TemplateWizard.h"

namespace Ui {
class d_FormEdit;
}

namespace pw {

class IUserInteraction;

class d_FormEdit : public QDialog {
    Q_OBJECT
public:
    d_FormEdit(CTemplateWizard& wizard, IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_FormEdit() override;

    void onSelect();
    void onUrl();
    void onTextColor();
    void onNext();
    void onGoBack();

private:
    void showPage();
    void takeText();

    std::unique_ptr<Ui::d_FormEdit> m_ui;
    CTemplateWizard& m_wizard;
    IUserInteraction& m_interaction;
};

}  // namespace pw
