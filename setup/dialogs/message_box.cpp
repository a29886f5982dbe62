#include "setup/dialogs/message_box.h"

namespace tevrolink::dialogs {
namespace {

void ShowMessageBox(QWidget *parent, const QString &text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QString::fromUtf8(kCaption), text, QMessageBox::Ok, parent);
    box.exec();
}

MessagePresenter presenter = ShowMessageBox;

}  // namespace

void ShowMessage(QWidget *parent, const QString &text, QMessageBox::Icon icon) {
    presenter(parent, text, icon);
}

MessagePresenter SetMessagePresenter(MessagePresenter replacement) {
    const MessagePresenter previous = presenter;
    presenter = replacement ? replacement : ShowMessageBox;
    return previous;
}

}  // namespace tevrolink::dialogs
