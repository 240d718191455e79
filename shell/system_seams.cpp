#include "shell/system_seams.h"

#include "platform/gamepad_bus.h"
#include "platform/hid.h"

namespace pellvane::shell {

SystemSeams::SystemSeams(const keyboard::SystemKeyboardOptions& keyboardOptions,
                         std::unique_ptr<dialogs::Dialogs> dialogs)
    : keyboardOptions_(keyboardOptions),
      desktop_(desktop::createSystemDesktop()),
      dialogs_(dialogs != nullptr ? std::move(dialogs) : dialogs::createSystemDialogs()),
      hidController_(platform::systemHid()),
      busController_(platform::systemGamepadBus()),
      controller_(hidController_, busController_) {}

ApplicationSeams SystemSeams::seams() {
    if (keyboard_ == nullptr) {
        keyboard_ = keyboard::createSystemKeyboard(keyboardOptions_);
    }
    return ApplicationSeams{*keyboard_, *desktop_, *dialogs_, controller_};
}

}  // namespace pellvane::shell
