// A private network namespace for tests that broadcast, and segments of it behind adapters
// of their own. Nothing sent there reaches the machine's real network.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace testsupport {

// Moves the calling process into a new network namespace, once: later calls return what
// the first one found. Only loopback exists there, up; there is no route for
// 255.255.255.255, so a broadcast leaves only through an adapter a test adds. Call it
// before the process starts threads (in main(), or in a test's set-up); without root it
// needs a user namespace, which a process with threads cannot enter. Threads started
// afterwards, and child processes, share the namespace.
// Returns why the namespace could not be made, or an empty string when the process runs
// in it; a test that needs it skips with that reason.
const std::string &EnterPrivateNetwork();

// A network segment behind one adapter of the private network: a veth pair whose far end
// lives in a namespace of its own, where devices run. The adapter `adapter` has
// 10.`net`.0.1/24, the far end 10.`net`.0.2/24; both are up, and no route is added.
// Deleted (both ends) with this object.
class DeviceSegment {
public:
    DeviceSegment(std::string adapter, int net);
    ~DeviceSegment();
    DeviceSegment(const DeviceSegment &) = delete;
    DeviceSegment &operator=(const DeviceSegment &) = delete;

    // Why the segment could not be made (the `ip` command that failed and what it said);
    // empty when it was.
    const std::string &Failure() const { return failure_; }
    const std::string &Adapter() const { return adapter_; }
    std::string PcAddress() const;  // "10.net.0.1"
    std::string Subnet() const;     // "10.net.0.0/24"
    // Runs `ip ipArguments` on the PC side ("route add default via 10.2.0.254 dev pc1");
    // false, with the reason in Failure(), when it fails.
    bool PcSide(const std::string &ipArguments);

    // Runs `work` on a thread inside the far namespace, so that the sockets it opens live
    // there; rethrows what it throws.
    void Inside(const std::function<void()> &work) const;
    template <class T, class... Args>
    std::unique_ptr<T> MakeInside(Args &&...args) const {
        std::unique_ptr<T> made;
        Inside([&] { made = std::make_unique<T>(std::forward<Args>(args)...); });
        return made;
    }

private:
    std::string adapter_;
    int net_;
    int farNamespace_ = -1;
    bool linked_ = false;
    std::string failure_;
};

}  // namespace testsupport
