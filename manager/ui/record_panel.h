// The operation record in the window: its list, "保存" into a report in the output
// directory and "清除".
#pragma once

#include <QString>
#include <QWidget>

#include "manager/core/clock.h"
#include "manager/core/manager.h"
#include "manager/ui/window_view.h"

class QPushButton;

namespace meradon::ui {

class RecordList;

class RecordPanel : public QWidget {
    Q_OBJECT
public:
    RecordPanel(Manager &manager, WindowView &view, Clock &clock, QWidget *parent);

    void AddLine(const QString &text, LineStyle style);
    // Saves the record as a report; quiet = no message box afterwards.
    void Save(bool quiet);
    void Enable(bool on);

private:
    Manager &manager_;
    WindowView &view_;
    Clock &clock_;
    QPushButton *saveButton_, *clearButton_;
    RecordList *records_;
};

}  // namespace meradon::ui
