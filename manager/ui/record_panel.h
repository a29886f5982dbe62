// The operation record in the window: the lines the core keeps, shown in a list, "保存"
// into a report in the output directory and "清除".
#pragma once

#include <QString>
#include <QWidget>

#include "manager/core/manager.h"

class QPushButton;

namespace meradon::ui {

class RecordList;

class RecordPanel : public QWidget {
    Q_OBJECT
public:
    RecordPanel(Manager &manager, QWidget *parent);

    // Keeps the line in the core's record and shows it as kept.
    void AddLine(const QString &text, LineStyle style);
    // Saves the record as a report; quiet = no message box afterwards.
    void Save(bool quiet);
    void Enable(bool on);

private:
    void Clear();

    Manager &manager_;
    QPushButton *saveButton_, *clearButton_;
    RecordList *records_;
};

}  // namespace meradon::ui
