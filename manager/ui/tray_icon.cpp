#include "manager/ui/tray_icon.h"

#include <QIcon>
#include <QSystemTrayIcon>

#include "manager/ui/message_boxes.h"

namespace meradon::ui {

namespace {
constexpr int kTipMax = 127;
constexpr int kBalloonTitleMax = 63;
constexpr int kBalloonTextMax = 255;
constexpr int kBalloonMs = 10000;
}  // namespace

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent),
      tip_(kManagerCaption),
      // The balloon title keeps its historic spelling until the version is known.
      balloonTitle_("Zelkora Wireless Network Manger"),
      balloonText_(kManagerCaption) {
    if (!Available()) return;
    icon_ = new QSystemTrayIcon(QIcon(":/meradon.svg"), this);
    icon_->setToolTip(tip_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) emit doubleClicked();
    });
    icon_->show();
}

bool TrayIcon::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayIcon::ShowBalloon(const QString &text) {
    if (text.isEmpty()) return;
    balloonText_ = text.left(kBalloonTextMax);
    balloons_ = true;
    Show();
}

void TrayIcon::SetVersionTitle(const QString &title) {
    tip_ = title.left(kTipMax);
    balloonTitle_ = title.left(kBalloonTitleMax);
    balloonText_ = title.left(kBalloonTextMax);
    if (icon_) icon_->setToolTip(tip_);
    if (balloons_) Show();
}

void TrayIcon::Remove() {
    if (icon_) icon_->hide();
}

void TrayIcon::Show() {
    if (icon_) icon_->showMessage(balloonTitle_, balloonText_, QSystemTrayIcon::Information, kBalloonMs);
    emit balloonShown(balloonTitle_, balloonText_);
}

}  // namespace meradon::ui
