#include "setup/dialogs/network_setup_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "setup/dialogs/message_box.h"

namespace tevrolink::dialogs {
namespace {

constexpr int kColumnWidths[] = {25, 100, 100, 100, 120, 110};

QLineEdit *NewEdit(QWidget *parent, const char *name) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

// An IP address field: dotted-quad text; empty or incomplete reads as 0.0.0.0.
QLineEdit *NewAddressEdit(QWidget *parent, const char *name) {
    QLineEdit *edit = NewEdit(parent, name);
    edit->setMinimumWidth(130);
    static const QRegularExpression dottedQuad(
        R"(((25[0-5]|2[0-4]\d|1?\d?\d)\.){3}(25[0-5]|2[0-4]\d|1?\d?\d))");
    edit->setValidator(new QRegularExpressionValidator(dottedQuad, edit));
    return edit;
}

Ipv4 AddressOf(const QLineEdit *edit) {
    return ParseIpv4(edit->text().toStdString()).value_or(0);
}

void ShowAddress(QLineEdit *edit, std::optional<Ipv4> address) {
    edit->setText(address ? QString::fromStdString(Ipv4Text(*address)) : QString());
}

// Text that is no address leaves the field empty, as an address control would.
void ShowAddressText(QLineEdit *edit, const QString &text) {
    ShowAddress(edit, ParseIpv4(text.toStdString()));
}

QRadioButton *NewRadio(QWidget *parent, const char *text, const char *name) {
    auto *radio = new QRadioButton(QString::fromUtf8(text), parent);
    radio->setObjectName(name);
    return radio;
}

void Group(QWidget *parent, QRadioButton *first, QRadioButton *second) {
    auto *group = new QButtonGroup(parent);
    group->addButton(first);
    group->addButton(second);
}

// Selects `yes` or `no`; neither when the state is unknown.
void ShowChoice(QRadioButton *yes, QRadioButton *no, std::optional<bool> state) {
    QButtonGroup *group = yes->group();
    group->setExclusive(false);
    yes->setChecked(state == true);
    no->setChecked(state == false);
    group->setExclusive(true);
}

// Copies the choice of one radio pair into another when one of the pair is set.
void CopyChoice(const QRadioButton *fromYes, const QRadioButton *fromNo, QRadioButton *yes,
                QRadioButton *no) {
    if (fromYes->isChecked() || fromNo->isChecked())
        ShowChoice(yes, no, fromYes->isChecked());
}

void EnableAll(std::initializer_list<QWidget *> widgets, bool enable) {
    for (QWidget *widget : widgets) widget->setEnabled(enable);
}

// Why a search or an update left on no adapter, from the errno the library set.
QString NotSentText() {
    const int error = errno;
    if (error == ENODEV) return QStringLiteral("没有已启用且可广播的网卡，无法发送");
    if (error == EADDRNOTAVAIL) return QStringLiteral("可广播的网卡上没有可用的 IPv4 地址，无法发送");
    return QStringLiteral("发送失败: ") + QString::fromLocal8Bit(std::strerror(error));
}

void CopyIntoBounded(char (&target)[20], const std::string &text) {
    std::memset(target, 0, sizeof target);
    std::memcpy(target, text.data(), std::min(text.size(), sizeof target - 1));
}

}  // namespace

PcNetwork PcNetwork::Read() {
    return {ReadAdapters(), LocalIPv4Addresses()};
}

NetworkSetupDialog::NetworkSetupDialog(NetSettings *settings, PcNetwork pc, QWidget *parent)
    : QDialog(parent),
      settings_(settings),
      pc_(std::move(pc)),
      activeWindow_(this, settings->activeWindow) {
    const std::string localAddress(settings->localAddress,
                                   strnlen(settings->localAddress, sizeof settings->localAddress));
    setWindowTitle(QString::fromUtf8(kCaption) + " - " +
                   QString::fromStdString(LocalEndpointText(localAddress, settings->localPort)));

    BuildTable();
    BuildPcSide();
    BuildDeviceSide();
    okButton_ = new QPushButton(QStringLiteral("确定"), this);
    okButton_->setObjectName("okButton");
    cancelButton_ = new QPushButton(QStringLiteral("取消"), this);
    cancelButton_->setObjectName("cancelButton");
    for (QPushButton *button : {copyButton_, changeButton_, okButton_, cancelButton_})
        button->setAutoDefault(false);
    searchButton_->setDefault(true);

    auto *sides = new QHBoxLayout;
    sides->addWidget(findChild<QGroupBox *>("pcGroup"));
    sides->addWidget(copyButton_, 0, Qt::AlignVCenter);
    sides->addWidget(findChild<QGroupBox *>("deviceGroup"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(changeButton_);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    auto *tableRow = new QHBoxLayout;
    tableRow->addWidget(deviceTable_, 1);
    tableRow->addWidget(searchButton_, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(tableRow);
    layout->addLayout(sides);
    layout->addLayout(buttons);

    connect(searchButton_, &QPushButton::clicked, this, &NetworkSetupDialog::Search);
    connect(copyButton_, &QPushButton::clicked, this, &NetworkSetupDialog::CopyPcSettings);
    connect(changeButton_, &QPushButton::clicked, this, &NetworkSetupDialog::ChangeDevice);
    connect(okButton_, &QPushButton::clicked, this, &NetworkSetupDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &NetworkSetupDialog::reject);
    connect(deviceTable_, &QTableWidget::currentCellChanged, this,
            [this](int row) { ShowDevice(row); });
    connect(deviceTable_, &QTableWidget::activated, this, [this](const QModelIndex &index) {
        ChooseDevice(index.row());
        ShowDevice(index.row());
    });
    connect(adapterList_, &QComboBox::currentIndexChanged, this,
            &NetworkSetupDialog::ShowAdapter);
    connect(deviceAutoAddressRadio_, &QRadioButton::toggled, this, [this](bool automatic) {
        EnableAll({deviceAddress_, deviceMask_, deviceGateway_}, !automatic);
    });
    connect(deviceAutoDnsRadio_, &QRadioButton::toggled, this, [this](bool automatic) {
        EnableAll({devicePrimaryDns_, deviceSecondaryDns_}, !automatic);
    });

    changeButton_->setEnabled(false);
    const bool haveAdapters = !pc_.adapters.empty();
    searchButton_->setEnabled(haveAdapters);
    copyButton_->setEnabled(haveAdapters);
    // Without adapters the local address list and the port stay empty.
    if (!haveAdapters) return;
    // An adapter without an IPv4 address has nothing to show or copy: such ones come last.
    std::stable_partition(pc_.adapters.begin(), pc_.adapters.end(),
                          [](const AdapterInfo &adapter) { return adapter.address.has_value(); });
    for (const AdapterInfo &adapter : pc_.adapters)
        adapterList_->addItem(QString::fromStdString(adapter.description));
    adapterList_->setCurrentIndex(0);
    localChoices_ = LocalAddressChoices(pc_.localAddresses);
    for (const std::string &choice : localChoices_)
        localAddressList_->addItem(QString::fromStdString(choice));
    localAddressList_->setCurrentIndex(LocalAddressIndex(localChoices_, localAddress));
    localPort_->setText(QString::number(settings->localPort));
}

void NetworkSetupDialog::BuildTable() {
    deviceTable_ = new QTableWidget(0, 6, this);
    deviceTable_->setObjectName("deviceTable");
    deviceTable_->setHorizontalHeaderLabels(
        {QString(), QStringLiteral("网络地址"), QStringLiteral("子网掩码"),
         QStringLiteral("网关地址"), QStringLiteral("控制中心"), QStringLiteral("设备描述")});
    for (int column = 0; column < 6; ++column)
        deviceTable_->setColumnWidth(column, kColumnWidths[column]);
    deviceTable_->verticalHeader()->hide();
    deviceTable_->setShowGrid(true);
    deviceTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    deviceTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    deviceTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    deviceTable_->setMinimumSize(580, 140);
    deviceTable_->installEventFilter(this);
    searchButton_ = new QPushButton(QStringLiteral("扫描"), this);
    searchButton_->setObjectName("searchButton");
}

void NetworkSetupDialog::BuildPcSide() {
    auto *group = new QGroupBox(this);
    group->setObjectName("pcGroup");
    adapterList_ = new QComboBox(group);
    adapterList_->setObjectName("adapterList");
    adapterMac_ = NewEdit(group, "adapterMac");
    adapterMac_->setReadOnly(true);
    adapterDhcpRadio_ = NewRadio(group, "自动获得 IP 地址", "adapterDhcpRadio");
    adapterStaticRadio_ = NewRadio(group, "使用下面的 IP 地址", "adapterStaticRadio");
    adapterAddress_ = NewAddressEdit(group, "adapterAddress");
    adapterMask_ = NewAddressEdit(group, "adapterMask");
    adapterGateway_ = NewAddressEdit(group, "adapterGateway");
    adapterAutoDnsRadio_ = NewRadio(group, "自动获得 DNS 服务器地址", "adapterAutoDnsRadio");
    adapterManualDnsRadio_ =
        NewRadio(group, "使用下面的 DNS 服务器地址", "adapterManualDnsRadio");
    adapterPrimaryDns_ = NewAddressEdit(group, "adapterPrimaryDns");
    adapterSecondaryDns_ = NewAddressEdit(group, "adapterSecondaryDns");
    Group(group, adapterDhcpRadio_, adapterStaticRadio_);
    Group(group, adapterAutoDnsRadio_, adapterManualDnsRadio_);
    // The PC side is shown, never edited here.
    EnableAll({adapterAddress_, adapterMask_, adapterGateway_, adapterPrimaryDns_,
               adapterSecondaryDns_, adapterDhcpRadio_, adapterStaticRadio_,
               adapterAutoDnsRadio_, adapterManualDnsRadio_},
              false);
    localAddressList_ = new QComboBox(group);
    localAddressList_->setObjectName("localAddressList");
    localPort_ = NewEdit(group, "localPort");
    localPort_->setFixedWidth(70);
    localPort_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), localPort_));
    copyButton_ = new QPushButton(QStringLiteral("复制 -->"), this);
    copyButton_->setObjectName("copyButton");

    auto *form = new QFormLayout(group);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("网卡描述:"), adapterList_);
    form->addRow(QStringLiteral("MAC 地址:"), adapterMac_);
    form->addRow(adapterDhcpRadio_);
    form->addRow(adapterStaticRadio_);
    form->addRow(QStringLiteral("IP 地址:"), adapterAddress_);
    form->addRow(QStringLiteral("子网掩码:"), adapterMask_);
    form->addRow(QStringLiteral("默认网关:"), adapterGateway_);
    form->addRow(adapterAutoDnsRadio_);
    form->addRow(adapterManualDnsRadio_);
    form->addRow(QStringLiteral("首选 DNS 服务器:"), adapterPrimaryDns_);
    form->addRow(QStringLiteral("备用 DNS 服务器:"), adapterSecondaryDns_);
    auto *local = new QHBoxLayout;
    local->addWidget(localAddressList_, 1);
    local->addWidget(new QLabel(QStringLiteral(":"), group));
    local->addWidget(localPort_);
    form->addRow(QStringLiteral("控制中心:"), local);
}

void NetworkSetupDialog::BuildDeviceSide() {
    auto *group = new QGroupBox(this);
    group->setObjectName("deviceGroup");
    deviceDescription_ = NewEdit(group, "deviceDescription");
    deviceMac_ = NewEdit(group, "deviceMac");
    deviceMac_->setReadOnly(true);
    deviceAutoAddressRadio_ = NewRadio(group, "自动获得 IP 地址", "deviceAutoAddressRadio");
    deviceStaticAddressRadio_ =
        NewRadio(group, "使用下面的 IP 地址", "deviceStaticAddressRadio");
    deviceAddress_ = NewAddressEdit(group, "deviceAddress");
    deviceMask_ = NewAddressEdit(group, "deviceMask");
    deviceGateway_ = NewAddressEdit(group, "deviceGateway");
    deviceAutoDnsRadio_ = NewRadio(group, "自动获得 DNS 服务器地址", "deviceAutoDnsRadio");
    deviceManualDnsRadio_ =
        NewRadio(group, "使用下面的 DNS 服务器地址", "deviceManualDnsRadio");
    devicePrimaryDns_ = NewAddressEdit(group, "devicePrimaryDns");
    deviceSecondaryDns_ = NewAddressEdit(group, "deviceSecondaryDns");
    Group(group, deviceAutoAddressRadio_, deviceStaticAddressRadio_);
    Group(group, deviceAutoDnsRadio_, deviceManualDnsRadio_);
    centreAddress_ = NewAddressEdit(group, "centreAddress");
    centrePort_ = NewEdit(group, "centrePort");
    centrePort_->setFixedWidth(70);
    centrePort_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), centrePort_));
    changeButton_ = new QPushButton(QStringLiteral("更改"), this);
    changeButton_->setObjectName("changeButton");

    auto *form = new QFormLayout(group);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("设备描述:"), deviceDescription_);
    form->addRow(QStringLiteral("MAC 地址:"), deviceMac_);
    form->addRow(deviceAutoAddressRadio_);
    form->addRow(deviceStaticAddressRadio_);
    form->addRow(QStringLiteral("IP 地址:"), deviceAddress_);
    form->addRow(QStringLiteral("子网掩码:"), deviceMask_);
    form->addRow(QStringLiteral("默认网关:"), deviceGateway_);
    form->addRow(deviceAutoDnsRadio_);
    form->addRow(deviceManualDnsRadio_);
    form->addRow(QStringLiteral("首选 DNS 服务器:"), devicePrimaryDns_);
    form->addRow(QStringLiteral("备用 DNS 服务器:"), deviceSecondaryDns_);
    auto *centre = new QHBoxLayout;
    centre->addWidget(centreAddress_, 1);
    centre->addWidget(new QLabel(QStringLiteral(":"), group));
    centre->addWidget(centrePort_);
    form->addRow(QStringLiteral("控制中心:"), centre);
}

bool NetworkSetupDialog::eventFilter(QObject *watched, QEvent *event) {
    // Enter on the table chooses the current row; it must not reach the default button,
    // which would search again and empty the table.
    if (watched == deviceTable_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && deviceTable_->currentRow() >= 0) {
            ChooseDevice(deviceTable_->currentRow());
            ShowDevice(deviceTable_->currentRow());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool NetworkSetupDialog::event(QEvent *event) {
    activeWindow_.Notice(event);
    return QDialog::event(event);
}

void NetworkSetupDialog::ShowAdapter(int index) {
    if (index < 0 || index >= static_cast<int>(pc_.adapters.size())) return;
    const AdapterInfo &adapter = pc_.adapters[index];
    adapterMac_->setText(adapter.mac ? QString::fromStdString(MacText(*adapter.mac)) : QString());
    ShowAddress(adapterAddress_, adapter.address);
    ShowAddress(adapterMask_, adapter.mask);
    ShowAddress(adapterGateway_, adapter.gateway);
    ShowChoice(adapterDhcpRadio_, adapterStaticRadio_, adapter.dhcp);
    const auto &dns = adapter.dnsServers;
    ShowAddress(adapterPrimaryDns_, dns.empty() ? std::nullopt : std::optional(dns[0]));
    if (dns.size() > 1) ShowAddress(adapterSecondaryDns_, dns[1]);
    ShowChoice(adapterAutoDnsRadio_, adapterManualDnsRadio_, adapter.autoDns);
}

void NetworkSetupDialog::Search() {
    changeButton_->setEnabled(false);
    shownRow_ = -1;
    deviceTable_->setRowCount(0);
    devices_.clear();
    // The search blocks this window until no answer has come for about 200 ms.
    OpenBroadcastShell();
    if (!Sent(SendIPDeviceSearchRequest())) return;
    LinkFrameRecord record;
    // A socket error (negative) ends the search as silence does.
    while (ReadSocketPacket(record, sizeof record) > 0) {
        if (!IsValidIPAddrResponse(record)) continue;
        DeviceEntry entry;
        std::memcpy(&entry, record + TEVROLINK_FRAME_HEADER, sizeof entry);
        devices_.push_back(entry);
        AppendDeviceRow(entry);
    }
    CloseShell();
}

void NetworkSetupDialog::OpenBroadcastShell() {
    // A chosen local address sends only through its adapter; "All Interfaces" through all.
    const std::string local =
        localAddressList_->currentIndex() > 0 ? localAddressList_->currentText().toStdString() : "";
    OpenNETShell(local.empty() ? nullptr : local.c_str(), "255.255.255.255", 0, DEVICE_PORT);
}

bool NetworkSetupDialog::Sent(int result) {
    if (result) return true;
    const QString reason = NotSentText();
    CloseShell();
    ShowMessage(this, reason, QMessageBox::Warning);
    return false;
}

void NetworkSetupDialog::AppendDeviceRow(const DeviceEntry &entry) {
    const int row = deviceTable_->rowCount();
    deviceTable_->insertRow(row);
    auto put = [&](int column, const std::string &text) {
        auto *item = new QTableWidgetItem(QString::fromStdString(text));
        item->setTextAlignment(Qt::AlignCenter);
        deviceTable_->setItem(row, column, item);
    };
    put(0, RowNumberText(row, false));
    const auto texts = DeviceRowTexts(entry);
    for (int column = 1; column <= 5; ++column) put(column, texts[column - 1]);
    deviceTable_->resizeColumnToContents(5);
}

void NetworkSetupDialog::ChooseDevice(int row) {
    if (row < 0 || row >= deviceTable_->rowCount()) return;
    for (int i = 0; i < deviceTable_->rowCount(); ++i)
        deviceTable_->item(i, 0)->setText(QString::fromStdString(RowNumberText(i, i == row)));
    // Takes effect at once: Cancel does not undo the choice.
    const QString address = deviceTable_->item(row, 1)->text();
    CopyIntoBounded(settings_->deviceAddress, address.toStdString());
    if (settings_->addressWindow)
        static_cast<QWidget *>(settings_->addressWindow)->setProperty("text", address);
}

void NetworkSetupDialog::ShowDevice(int row) {
    if (row < 0 || row >= static_cast<int>(devices_.size()) || row == shownRow_) return;
    shownRow_ = row;
    const DeviceForm form = FormFromEntry(devices_[row]);
    ShowAddress(deviceAddress_, form.address);
    ShowAddress(deviceMask_, form.mask);
    ShowAddress(deviceGateway_, form.gateway);
    deviceMac_->setText(QString::fromStdString(form.macText));
    ShowAddress(devicePrimaryDns_, form.primaryDns);
    ShowAddress(deviceSecondaryDns_, form.secondaryDns);
    ShowAddress(centreAddress_, form.centreAddress);
    centrePort_->setText(QString::fromStdString(form.centrePortText));
    deviceDescription_->setText(QString::fromStdString(form.description));
    changeButton_->setEnabled(true);
    ShowChoice(deviceAutoAddressRadio_, deviceStaticAddressRadio_, form.autoAddress);
    EnableAll({deviceAddress_, deviceMask_, deviceGateway_}, !form.autoAddress);
    ShowChoice(deviceAutoDnsRadio_, deviceManualDnsRadio_, form.autoDns);
    EnableAll({devicePrimaryDns_, deviceSecondaryDns_}, !form.autoDns);
}

DeviceForm NetworkSetupDialog::ReadDeviceForm() const {
    DeviceForm form;
    form.description = deviceDescription_->text().toStdString();
    form.macText = deviceMac_->text().toStdString();
    form.autoAddress = deviceAutoAddressRadio_->isChecked();
    form.address = AddressOf(deviceAddress_);
    form.mask = AddressOf(deviceMask_);
    form.gateway = AddressOf(deviceGateway_);
    form.autoDns = deviceAutoDnsRadio_->isChecked();
    form.primaryDns = AddressOf(devicePrimaryDns_);
    form.secondaryDns = AddressOf(deviceSecondaryDns_);
    form.centreAddress = AddressOf(centreAddress_);
    form.centrePortText = centrePort_->text().toStdString();
    return form;
}

void NetworkSetupDialog::ChangeDevice() {
    const CheckedEntry checked = EntryFromForm(ReadDeviceForm());
    if (checked.refusal) {
        ShowMessage(this, QString::fromUtf8(checked.refusal));
        return;
    }
    // The update reopens the broadcast socket, keeping its choice of adapter; whatever
    // comes back confirms it.
    OpenBroadcastShell();
    if (!Sent(UpdateNodeNetworkParameter(&checked.entry))) return;
    LinkFrameRecord record;
    if (ReadSocketPacket(record, sizeof record) > 0)
        ShowMessage(this, QStringLiteral("配置信息更改成功"));
    CloseShell();
}

void NetworkSetupDialog::CopyPcSettings() {
    deviceAddress_->setText(adapterAddress_->text());
    deviceMask_->setText(adapterMask_->text());
    deviceGateway_->setText(adapterGateway_->text());
    // A choice the PC side does not know (neither radio set) is not copied: the device
    // keeps its own, so that Change sends only what the operator could see and choose.
    CopyChoice(adapterDhcpRadio_, adapterStaticRadio_, deviceAutoAddressRadio_,
               deviceStaticAddressRadio_);
    EnableAll({deviceAddress_, deviceMask_, deviceGateway_}, !deviceAutoAddressRadio_->isChecked());
    devicePrimaryDns_->setText(adapterPrimaryDns_->text());
    deviceSecondaryDns_->setText(adapterSecondaryDns_->text());
    CopyChoice(adapterAutoDnsRadio_, adapterManualDnsRadio_, deviceAutoDnsRadio_,
               deviceManualDnsRadio_);
    EnableAll({devicePrimaryDns_, deviceSecondaryDns_}, !deviceAutoDnsRadio_->isChecked());
    ShowAddressText(centreAddress_, QString::fromStdString(CentreAddressForCopy(
                                        localChoices_, localAddressList_->currentIndex())));
    centrePort_->setText(localPort_->text());
}

void NetworkSetupDialog::accept() {
    std::memset(settings_->localAddress, 0, sizeof settings_->localAddress);
    if (localAddressList_->currentIndex() != 0)
        CopyIntoBounded(settings_->localAddress, localAddressList_->currentText().toStdString());
    settings_->localPort = PortFromText(localPort_->text().toStdString());
    done(0);
}

}  // namespace tevrolink::dialogs
