// meradond's reading of requests, where the real-broker group cannot look: ids of every
// type, base64 at its edges, and the checks between fields, each by the text it answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manager/daemon/bridge_payloads.h"
#include "manager/daemon/bridge_request.h"

namespace meradon::daemon {
namespace {

struct ReadCase {
    const char *command;
    std::string payload;
    std::string error;  // empty: read
    std::string id;     // the id as echoed; empty: none could be read
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.command << " " << c.payload; }

class RequestReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RequestReading, SaysWhatIsWrong) {
    const ReadCase &c = GetParam();
    const ReadRequest read = ParseRequest(c.command, c.payload);
    EXPECT_EQ(read.error, c.error);
    EXPECT_EQ(read.request.has_value(), c.error.empty());
    EXPECT_EQ(read.id ? read.id->dump() : "", c.id);
}

INSTANTIATE_TEST_SUITE_P(
    Daemon, RequestReading,
    ::testing::Values(
        ReadCase{"info", R"({"id":2.5})", "", "2.5"},
        ReadCase{"info", R"({"id":18446744073709551615})", "", "18446744073709551615"},
        ReadCase{"info", R"({"id":null})", "id must be a string or a number", ""},
        ReadCase{"info", R"({"id":{"a":1}})", "id must be a string or a number", ""},
        ReadCase{"info", "\"text\"", "the request must be a JSON object", ""},
        ReadCase{"info", std::string(kMostRequestBytes + 1, ' '), "the request is larger than 1048576 bytes", ""},
        ReadCase{"set_receiver", R"({"id":1,"station":0})", "", "1"},
        ReadCase{"add_station", R"({"id":1,"station":0})", "station must be 1 to 254", "1"},
        ReadCase{"add_station", R"({"id":1,"station":18446744073709551617})", "station must be a station number", "1"},
        ReadCase{"add_station", R"({"id":1,"station":-1})", "station must be 1 to 254", "1"},
        ReadCase{"add_station", R"({"id":1,"station":"broadcast"})", "station must be a station number", "1"},
        ReadCase{"add_station", R"({"id":1})", "station is missing", "1"},
        ReadCase{"send", R"({"id":"s","stations":[],"file":"a"})", "stations is empty", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"file":"a","data":"YQ==","name":"b"})",
                 "give either file or data, not both", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2]})",
                 "give file (a name in the send directory) or data (base64) with name", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"data":"YQ==","name":"../b"})",
                 "name must be a file name without a folder", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"data":"YQ==","name":".."})",
                 "name must be a file name without a folder", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"data":"YQ=="})", "data needs a name", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"file":"a\u0000b"})", "file holds a NUL character", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"data":"YQ=a","name":"b"})", "data is not base64", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"data":"Y===","name":"b"})", "data is not base64", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2],"data":"YQ","name":"b"})", "data is not base64", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":[2,3],"file":"a","loop":true})",
                 "loop sending is for one station or a broadcast", "\"s\""},
        ReadCase{"send", R"({"id":"s","stations":"broadcast","file":"a","loop":true})", "", "\"s\""}));

// What the sending gets is what was encoded, for every length's padding.
TEST(RequestData, Base64RoundTrips) {
    for (const std::string &bytes : std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xff\x10", 3)}) {
        EXPECT_EQ(DecodeBase64(Base64(bytes)), bytes);
    }
}

}  // namespace
}  // namespace meradon::daemon
