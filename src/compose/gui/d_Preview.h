#pragma once
// "Preview": the current mail as one recipient of the send would receive it, in text and
// HTML and in two narrow phone views, with Previous and Next through the recipients.

#include <QDialog>
#include <QFont>
#include <memory>

#include "compose/MailPreview.h"

namespace Ui {
class d_Preview;
}

namespace pw {

class d_Preview : public QDialog {
    Q_OBJECT
public:
    // textFont: the character format of the mail's text editor.
    d_Preview(std::unique_ptr<CMailPreview> preview, const QFont& textFont,
              QWidget* parent = nullptr);
    ~d_Preview() override;

    [[nodiscard]] CMailPreview& preview() { return *m_preview; }
    void onNext();
    void onPrevious();

    void done(int result) override;

private:
    void showRecipient();

    std::unique_ptr<Ui::d_Preview> m_ui;
    std::unique_ptr<CMailPreview> m_preview;
};

}  // namespace pw
