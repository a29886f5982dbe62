// Small helpers that the window's panels share to make and switch their controls, and to
// tell the operator something in a message box owned by the main window.
#pragma once

#include <QMessageBox>
#include <QString>
#include <initializer_list>

class QPushButton;
class QWidget;

namespace meradon::ui {

// A push button with its caption and object name that does not take Return for itself.
QPushButton *Button(const char *caption, const char *name, QWidget *parent);

template <typename T>
T *Named(T *widget, const char *name) {
    widget->setObjectName(name);
    return widget;
}

void SetEnabled(std::initializer_list<QWidget *> widgets, bool on);

// Shows a message box over the window that holds `from`, and waits for the operator.
void Tell(QWidget *from, const QString &caption, const QString &text,
          QMessageBox::Icon icon = QMessageBox::Information);

}  // namespace meradon::ui
