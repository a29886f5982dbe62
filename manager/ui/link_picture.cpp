#include "manager/ui/link_picture.h"

#include <QPainter>
#include <QSvgRenderer>

namespace meradon::ui {

QString LinkPictureResource(uint8_t code) {
    if (code == 0xFF) return ":/pictures/idle.svg";
    switch (code >> 4) {
    case 0x0:
    case 0x1: return ":/pictures/instrument.svg";
    case 0x2: return ":/pictures/upload.svg";
    case 0x4: return ":/pictures/play.svg";
    case 0x8: return ":/pictures/stop.svg";
    case 0x9: return ":/pictures/radar.svg";
    default: return {};
    }
}

LinkPicture::LinkPicture(QWidget *parent) : QFrame(parent) {
    setObjectName("linkPicture");
    setFrameStyle(QFrame::Box | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LinkPicture::ShowCode(uint8_t code) {
    code_ = code;
    update();
}

QSize LinkPicture::sizeHint() const {
    const int unit = fontMetrics().height();
    return {unit * 4, unit * 4};
}

// The picture is decoded on every paint: it is small and changes rarely.
void LinkPicture::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = rect().adjusted(2, 2, -2, -2);
    painter.fillRect(area, palette().button());
    const QString resource = LinkPictureResource(code_);
    if (resource.isEmpty()) return;
    QSvgRenderer picture(resource);
    if (!picture.isValid()) return;
    picture.setAspectRatioMode(Qt::IgnoreAspectRatio);
    picture.render(&painter, QRectF(area));
}

}  // namespace meradon::ui
