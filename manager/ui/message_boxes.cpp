#include "manager/ui/message_boxes.h"


namespace meradon::ui {

namespace {

class BoxPresenter final : public MessagePresenter {
public:
    bool Ask(QWidget *parent, const Message &message) override {
        QMessageBox box(message.icon, message.caption, message.text, Buttons(message), parent);
        return box.exec() == QMessageBox::Ok;
    }

    void Show(QWidget *parent, const Message &message, std::function<void()> closed) override {
        // Window-modal but not blocking: the window's event loop (timer, queued commands,
        // the Exit button's shutdown) keeps running while the box is up.
        auto *box = new QMessageBox(message.icon, message.caption, message.text,
                                    Buttons(message), parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(box, &QMessageBox::finished, box, [closed = std::move(closed)](int) {
            if (closed) closed();
        });
        box->open();
    }

private:
    static QMessageBox::StandardButtons Buttons(const Message &message) {
        return message.okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok;
    }
};

BoxPresenter boxes;
MessagePresenter *current = &boxes;

}  // namespace

MessagePresenter &Messages() { return *current; }

MessagePresenter *SetMessagePresenter(MessagePresenter *presenter) {
    MessagePresenter *before = current;
    current = presenter ? presenter : &boxes;
    return before;
}

}  // namespace meradon::ui
