#pragma once
// "Text/Color Settings": a text style for a selection of a text page, or only a colour for a
// background colour page.

#include <QColor>
#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class d_TextStyle;
}

namespace pw {

struct TextStyle {
    QString face;      // empty: none chosen
    int sizeStep = 3;  // 1..7, 3 the default size
    bool bold = false;
    bool italic = false;
    QColor color = Qt::black;
    QString link;
};

class d_TextStyle : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Text, ColorOnly };
    d_TextStyle(const TextStyle& style, Mode mode, QWidget* parent = nullptr);
    ~d_TextStyle() override;

    // What OK hands back: face stays empty when "None" is selected.
    [[nodiscard]] TextStyle style() const;

private:
    void showColor();

    std::unique_ptr<Ui::d_TextStyle> m_ui;
    QColor m_color;
};

}  // namespace pw
