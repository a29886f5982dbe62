// The widget-free half of the network dialog: a device's entry shown and read back.
#include <cstring>
#include <gtest/gtest.h>

#include "setup/dialogs/device_form.h"
#include "setup/text_encoding.h"
#include "sim/network_device.h"

namespace dialogtest {
namespace {

using namespace tevrolink::dialogs;

TEST(DeviceForm, EntryShownAndReadBackIsTheSameEntry) {
    const DeviceEntry entry = hostsim::MakeDeviceEntry({.address = "10.1.2.3",
                                                        .mask = "255.255.0.0",
                                                        .gateway = "10.1.0.1",
                                                        .primaryDns = "8.8.8.8",
                                                        .secondaryDns = "8.8.4.4",
                                                        .centre = "10.1.9.9",
                                                        .centrePort = 4660,
                                                        .mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xEF},
                                                        .description = tevrolink::Utf8ToGbk("一号 gate"),
                                                        .autoDns = true});
    const DeviceForm form = FormFromEntry(entry);
    EXPECT_EQ(form.macText, "00-1A-2B-3C-4D-EF");
    EXPECT_EQ(form.centrePortText, "4660");
    EXPECT_EQ(form.description, "一号 gate");
    const CheckedEntry back = EntryFromForm(form);
    ASSERT_EQ(back.refusal, nullptr);
    EXPECT_EQ(std::memcmp(&back.entry, &entry, sizeof entry), 0);
}

TEST(DeviceForm, LongDescriptionIsCutWithoutSplittingACharacter) {
    DeviceForm form = FormFromEntry(hostsim::MakeDeviceEntry(
        {.address = "10.1.2.3", .mask = "255.0.0.0", .gateway = "10.0.0.1", .centre = "10.1.9.9",
         .centrePort = 1}));
    form.description = "a" + std::string(21, 'b') + "中文字符串";  // 22 + 5 * 2 GBK bytes
    const CheckedEntry checked = EntryFromForm(form);
    ASSERT_EQ(checked.refusal, nullptr);
    EXPECT_EQ(std::string(checked.entry.description),
              tevrolink::Utf8ToGbk("a" + std::string(21, 'b') + "中文字符"));
}

}  // namespace
}  // namespace dialogtest
