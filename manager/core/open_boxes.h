// The message boxes the worker has asked the window for and the operator has not closed
// yet, by their text: the worker never waits for a box, so a trouble that lasts would
// otherwise stack one box of the same text on the other.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace meradon {

class OpenBoxes {
public:
    // True when no box of `text` is open; it counts as open from now on.
    bool Open(const std::string &text);
    // Window thread: the operator closed the box of `text`.
    void Closed(const std::string &text);

private:
    std::mutex mutex_;
    std::set<std::string> texts_;
};

}  // namespace meradon
