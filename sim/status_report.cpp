#include "sim/status_report.h"

namespace hostsim {

Bytes BuildStatusPayload(const HostModel &model) {
    Bytes p(kStatusPayloadSize, 0);
    p[kStatusHostState] = model.HostState();
    p[kStatusPeer] = model.settings.peer;
    p[kStatusFlags] = model.HostFlags();
    StoreBe16(&p[kStatusWaiting], model.txBuffer.Fill());
    StoreBe16(&p[kStatusCredit], model.txBuffer.Credit());
    StoreBe16(&p[kStatusBufferSize], model.txBuffer.Size());
    StoreBe16(&p[kStatusGate], model.statusGate);
    // The remaining value groups carry radio counters the PC passes through untouched.
    return p;
}

}  // namespace hostsim
