#include "manager/ui/record_list.h"

namespace meradon::ui {

RecordList::RecordList(QWidget *parent) : QListWidget(parent) {
    setObjectName("recordList");
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void RecordList::AddLine(const QString &line) {
    addItem(line);
    setCurrentRow(count() - 1);
    scrollToBottom();
}

void RecordList::ClearLines() { clear(); }

QStringList RecordList::Lines() const {
    QStringList lines;
    for (int i = 0; i < count(); ++i) lines << item(i)->text();
    return lines;
}

}  // namespace meradon::ui
