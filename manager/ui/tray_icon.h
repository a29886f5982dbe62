// The icon in the notification area: its tip, the balloons of station events and the
// version text. Without a system tray the texts are still kept, and nothing is shown.
#pragma once

#include <QObject>
#include <QString>

class QSystemTrayIcon;

namespace meradon::ui {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);

    // Whether the desktop has a tray, so that hiding the window can be undone.
    static bool Available();

    // Balloon with the current title; an empty text shows none.
    void ShowBalloon(const QString &text);
    // After the firmware version has been read: tip, balloon title and text become the
    // window title (a balloon shows again only once station balloons have been shown).
    void SetVersionTitle(const QString &title);
    void Remove();

    QString Tip() const { return tip_; }
    QString BalloonTitle() const { return balloonTitle_; }
    QString BalloonText() const { return balloonText_; }

signals:
    void doubleClicked();
    // A balloon is shown (also when no tray can show it): title and text.
    void balloonShown(const QString &title, const QString &text);

private:
    void Show();

    QSystemTrayIcon *icon_ = nullptr;
    QString tip_;
    QString balloonTitle_;
    QString balloonText_;
    bool balloons_ = false;  // a station balloon has been shown
};

}  // namespace meradon::ui
