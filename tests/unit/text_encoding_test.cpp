#include <gtest/gtest.h>

#include "setup/text_encoding.h"

namespace {

TEST(TextEncoding, GbkRoundTripAndDamagedBytes) {
    const std::string gbk = "V2.1 \xD6\xD0\xCE\xC4";  // "V2.1 中文"
    EXPECT_EQ(tevrolink::GbkToUtf8(gbk), "V2.1 中文");
    EXPECT_EQ(tevrolink::Utf8ToGbk("V2.1 中文"), gbk);
    // A text ends at its NUL; a cut-off double-byte character is marked, not dropped.
    EXPECT_EQ(tevrolink::GbkToUtf8(std::string("AB\0CD", 5)), "AB");
    EXPECT_EQ(tevrolink::GbkToUtf8("A\xD6"), "A\xEF\xBF\xBD");
}

}  // namespace
