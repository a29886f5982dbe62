// The widget-free half of the network dialog: a device's entry shown and read back.
#include <cstring>
#include <gtest/gtest.h>

#include "setup/dialogs/device_form.h"
#include "setup/text_encoding.h"
#include "tests/dialogs/device_emulator.h"

namespace dialogtest {
namespace {

using namespace tevrolink::dialogs;

TEST(DeviceForm, EntryShownAndReadBackIsTheSameEntry) {
    DeviceEntry entry = MakeEntry("10.1.2.3", "255.255.0.0", "10.1.0.1", 0xEF, "10.1.9.9", 4660,
                                  tevrolink::Utf8ToGbk("一号 gate").c_str());
    entry.autoDns = 1;
    const DeviceForm form = FormFromEntry(entry);
    EXPECT_EQ(form.macText, "00-1A-2B-3C-4D-EF");
    EXPECT_EQ(form.centrePortText, "4660");
    EXPECT_EQ(form.description, "一号 gate");
    const CheckedEntry back = EntryFromForm(form);
    ASSERT_EQ(back.refusal, nullptr);
    EXPECT_EQ(std::memcmp(&back.entry, &entry, sizeof entry), 0);
}

TEST(DeviceForm, LongDescriptionIsCutWithoutSplittingACharacter) {
    DeviceForm form = FormFromEntry(MakeEntry("10.1.2.3", "255.0.0.0", "10.0.0.1", 1,
                                              "10.1.9.9", 1, ""));
    form.description = "a" + std::string(21, 'b') + "中文字符串";  // 22 + 5 * 2 GBK bytes
    const CheckedEntry checked = EntryFromForm(form);
    ASSERT_EQ(checked.refusal, nullptr);
    EXPECT_EQ(std::string(checked.entry.description),
              tevrolink::Utf8ToGbk("a" + std::string(21, 'b') + "中文字符"));
}

}  // namespace
}  // namespace dialogtest
