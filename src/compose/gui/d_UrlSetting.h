#pragma once
// "URL Setting": one web address, prefilled with the given text.

#include <QDialog>
#include <memory>

namespace Ui {
class d_UrlSetting;
}

namespace pw {

class d_UrlSetting : public QDialog {
    Q_OBJECT
public:
    explicit d_UrlSetting(const QString& text, QWidget* parent = nullptr);
    ~d_UrlSetting() override;
    [[nodiscard]] QString text() const;

private:
    std::unique_ptr<Ui::d_UrlSetting> m_ui;
};

}  // namespace pw
