#pragma once
// Getting Started: a picture with four choice buttons side by side, "Exit" and "Display Next
// Time". The second, third or fourth choice (clicked, or pressed from the keyboard) asks for
// Open, Select HTML Template or Import DataBase and closes the dialog with OK (a click elsewhere
// closes it with OK and asks for nothing); "Exit" and the close box give Cancel, but only "Exit"
// asks to end the program. Every way out stores whether "Display Next Time" is checked in
// "StartShortcut".

#include <QDialog>
#include <memory>

#include "app/Preferences.h"

namespace Ui {
class d_StartForm;
}

namespace pw::app {

class d_StartForm : public QDialog {
    Q_OBJECT
public:
    explicit d_StartForm(bool& startShortcut, QWidget* parent = nullptr);
    ~d_StartForm() override;

    [[nodiscard]] StartChoice choice() const { return m_choice; }
    [[nodiscard]] StartEnd end() const { return m_end; }
    // A pixel position of the dialog in dialog units (the dialog's font sets them).
    [[nodiscard]] QPointF toDialogUnits(const QPoint& pixels) const;
    [[nodiscard]] QPoint fromDialogUnits(double x, double y) const;

    void done(int result) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<Ui::d_StartForm> m_form;
    bool& m_startShortcut;
    StartChoice m_choice = StartChoice::None;
    StartEnd m_end = StartEnd::Continue;
    double m_unitX = 1.5;  // pixels per horizontal dialog unit
    double m_unitY = 1.625;
};

}  // namespace pw::app
