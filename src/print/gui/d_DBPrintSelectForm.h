#pragma once
// "Select columns ...": which grid columns are printed.

#include <QDialog>
#include <QStringList>
#include <memory>
#include <vector>

namespace Ui {
class d_DBPrintSelectForm;
}

namespace pw::print {

class d_DBPrintSelectForm : public QDialog {
    Q_OBJECT
public:
    // One checked item per header text; OK copies the check marks into choice.
    d_DBPrintSelectForm(const QStringList& headers, std::vector<bool>& choice,
                        QWidget* parent = nullptr);
    ~d_DBPrintSelectForm() override;

    void accept() override;

private:
    std::unique_ptr<Ui::d_DBPrintSelectForm> m_ui;
    std::vector<bool>& m_choice;
};

}  // namespace pw::print
