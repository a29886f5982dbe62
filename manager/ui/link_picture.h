// The link-state picture: an etched frame showing the picture of the host node's state,
// drawn stretched into the frame. A state without a picture leaves the frame blank.
#pragma once

#include <QFrame>
#include <QString>
#include <cstdint>

namespace meradon::ui {

// Resource path of the picture for a link-state code; empty when the code has none.
QString LinkPictureResource(uint8_t code);

class LinkPicture : public QFrame {
    Q_OBJECT
public:
    explicit LinkPicture(QWidget *parent = nullptr);

    void ShowCode(uint8_t code);
    uint8_t Code() const { return code_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    uint8_t code_ = 0xFF;
};

}  // namespace meradon::ui
