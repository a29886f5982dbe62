#include "manager/ui/controls.h"

#include <QPushButton>

#include "manager/ui/message_boxes.h"

namespace meradon::ui {

QPushButton *Button(const char *caption, const char *name, QWidget *parent) {
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

void SetEnabled(std::initializer_list<QWidget *> widgets, bool on) {
    for (QWidget *w : widgets) w->setEnabled(on);
}

void Tell(QWidget *from, const QString &caption, const QString &text, QMessageBox::Icon icon) {
    Messages().Ask(from->window(), {caption, text, icon, false});
}

}  // namespace meradon::ui
