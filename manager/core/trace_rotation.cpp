#include "manager/core/trace_rotation.h"

#include "manager/core/reception.h"

namespace meradon {

void RotateTraceFile(Core &core) {
    if (!core.view.IsChecked(ControlId::TraceOutput)) return;
    if (!core.state.traceFile.IsOpen() || core.Since(core.state.traceFileTime) > kTraceFileLifeMs)
        OpenTraceFile(core);
}

void OpenTraceFile(Core &core) {
    std::string name = TraceFileName(core.view.LinkSelectorText(), core.clock.Local());
    FileHandle file = core.output.Open(name, "wb");
    if (!file) ReportFileError(core);
    core.state.traceFile.Replace(std::move(file));
    core.state.traceFileTime.store(core.Now());
}

}  // namespace meradon
