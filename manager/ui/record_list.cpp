#include "manager/ui/record_list.h"

#include "setup/text_encoding.h"

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

QByteArray ReportBytes(const QStringList &lines) {
    QByteArray bytes;
    for (int i = 0; i < lines.size(); ++i) {
        if (i) bytes += "\r\n";
        const std::string gbk = tevrolink::Utf8ToGbk(lines[i].toStdString());
        bytes.append(gbk.data(), static_cast<qsizetype>(gbk.size()));
    }
    return bytes;
}

}  // namespace meradon::ui
