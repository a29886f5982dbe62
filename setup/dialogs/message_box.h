// The message boxes of the set-up dialogs, behind one function so that tests can take the
// messages instead of a window waiting for a click.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace tevrolink::dialogs {

inline constexpr char kCaption[] = "Zelkora Wireless Network Manager";

// Shows `text` modally with the caption above and an OK button.
void ShowMessage(QWidget *parent, const QString &text,
                 QMessageBox::Icon icon = QMessageBox::NoIcon);

using MessagePresenter = void (*)(QWidget *parent, const QString &text, QMessageBox::Icon icon);
// Replaces the message box (nullptr: the message box again); returns the one before.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

}  // namespace tevrolink::dialogs
