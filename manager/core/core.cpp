#include "manager/core/core.h"

namespace meradon {

bool Core::MessageBox(const std::string &text) {
    return messageBox.AskAndWait([&] { view.RequestMessageBox(text); });
}

bool Core::SendCommand(int command) {
    return this->command.AskAndWait([&] { view.RequestCommand(command); });
}

}  // namespace meradon
