// The operation record as the window shows it: its lines, and a horizontal scroll range
// that follows the widest line (the view measures its items).
#pragma once

#include <QListWidget>
#include <QStringList>

namespace meradon::ui {

class RecordList : public QListWidget {
    Q_OBJECT
public:
    explicit RecordList(QWidget *parent = nullptr);

    // Appends the line and selects it, which scrolls it into view.
    void AddLine(const QString &line);
    // Empties the list; the horizontal scroll range goes back to 0.
    void ClearLines();
    QStringList Lines() const;
};

}  // namespace meradon::ui
