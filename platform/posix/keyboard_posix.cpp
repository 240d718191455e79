// The Linux keyboard: the lookups answer as the Windows US layout does, and each record is
// typed on a virtual uinput keyboard that lives as long as the program. The records can be
// printed as the SendInput calls Windows would receive; without the virtual keyboard that
// is all that happens to them.
#include <linux/input.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/posix/key_event_injector.h"
#include "platform/posix/linux_key_codes.h"
#include "platform/posix/linux_keyboard.h"
#include "platform/posix/us_layout.h"

namespace pellvane::keyboard {
namespace {

class LinuxKeyboard final : public Keyboard {
  public:
    LinuxKeyboard(std::unique_ptr<input::InputEventSink> device,
                  const SystemKeyboardOptions& options, std::FILE* recordOutput,
                  std::FILE* noticeOutput)
        : device_(std::move(device)),
          printRecords_(options.printRecords || device_ == nullptr),
          recordOutput_(recordOutput),
          noticeOutput_(noticeOutput) {
        if (device_ != nullptr) {
            injector_.emplace(*device_, options.unicodeHexInput ? UnicodeFallback::hexInput
                                                                : UnicodeFallback::skip);
        }
    }

    ~LinuxKeyboard() override {
        std::lock_guard guard(lock_);
        if (injector_) {
            injector_->releaseHeldKeys();
        }
    }

    LinuxKeyboard(const LinuxKeyboard&) = delete;
    LinuxKeyboard& operator=(const LinuxKeyboard&) = delete;

    LayoutHandle currentLayout() override { return usLayout; }

    std::uint16_t keyForCharacter(char16_t character, LayoutHandle) override {
        return usKeyForCharacter(character);
    }

    std::uint32_t scanCodeForKey(std::uint32_t virtualKey, LayoutHandle) override {
        return usScanCodeForKey(virtualKey);
    }

    std::uintptr_t messageExtraInfo() override { return 0; }

    void sendRecord(const KeyRecord& record) override {
        std::lock_guard guard(lock_);
        if (printRecords_) {
            std::fprintf(recordOutput_, "SendInput wVk=0x%04X wScan=0x%04X dwFlags=0x%X\n",
                         static_cast<unsigned>(record.wVk), static_cast<unsigned>(record.wScan),
                         static_cast<unsigned>(record.dwFlags));
            std::fflush(recordOutput_);
        }
        if (injector_) {
            tellOnce(injector_->inject(record));
        }
    }

    void pause(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    void beep(std::uint32_t frequency, std::uint32_t milliseconds) override {
        {
            std::lock_guard guard(lock_);
            if (printRecords_) {
                std::fprintf(recordOutput_, "Beep %u %u\n", static_cast<unsigned>(frequency),
                             static_cast<unsigned>(milliseconds));
                std::fflush(recordOutput_);
            } else if (::isatty(::fileno(noticeOutput_)) == 1) {
                // The terminal's bell is the nearest thing to the tone that Windows plays.
                std::fputc('\a', noticeOutput_);
                std::fflush(noticeOutput_);
            }
        }
        // The tone lasts as long as on Windows, so the loop is held up as long.
        pause(milliseconds);
    }

  private:
    void tellOnce(InjectOutcome outcome) {
        if (outcome == InjectOutcome::characterSkipped && !toldSkippedCharacter_) {
            toldSkippedCharacter_ = true;
            std::fputs(
                "pellvane-server: a character that the US keyboard layout lacks was not typed "
                "(nor will later ones be); --unicode-hex types them as Ctrl+Shift+U sequences, "
                "which IBus and GTK applications understand.\n",
                noticeOutput_);
        } else if (outcome == InjectOutcome::refused && !toldRefusedPress_) {
            toldRefusedPress_ = true;
            std::fputs(
                "pellvane-server: a pad pressed Alt+SysRq or Ctrl+Alt+Delete; the virtual "
                "keyboard does not pass these on.\n",
                noticeOutput_);
        } else if (outcome == InjectOutcome::deviceFailed && !toldDeviceFailure_) {
            toldDeviceFailure_ = true;
            std::fputs("pellvane-server: the virtual keyboard did not take a key.\n",
                       noticeOutput_);
        }
    }

    std::unique_ptr<input::InputEventSink> device_;
    const bool printRecords_;
    std::FILE* recordOutput_;
    std::FILE* noticeOutput_;
    // Guards the injector (the keys it holds), both outputs and the flags below: records
    // may come from several threads.
    std::mutex lock_;
    std::optional<KeyEventInjector> injector_;  // empty without a device
    bool toldSkippedCharacter_ = false;
    bool toldRefusedPress_ = false;
    bool toldDeviceFailure_ = false;
};

}  // namespace

input::UinputDeviceSpec virtualKeyboardSpec() {
    input::UinputDeviceSpec spec;
    spec.name = "Pellvane Virtual Keyboard";
    spec.bus = BUS_VIRTUAL;
    spec.keys = linuxKeysInUse();
    return spec;
}

std::unique_ptr<Keyboard> createLinuxKeyboard(std::unique_ptr<input::InputEventSink> device,
                                              const SystemKeyboardOptions& options,
                                              std::FILE* recordOutput, std::FILE* noticeOutput) {
    return std::make_unique<LinuxKeyboard>(std::move(device), options, recordOutput, noticeOutput);
}

std::unique_ptr<Keyboard> createSystemKeyboard(const SystemKeyboardOptions& options) {
    std::string error;
    std::unique_ptr<input::InputEventSink> device =
        input::UinputDevice::create(virtualKeyboardSpec(), error);
    if (device == nullptr) {
        std::fprintf(stderr,
                     "pellvane-server: no virtual keyboard (%s): keys are printed, not typed. "
                     "Load the uinput module and install the udev rule that the README names.\n",
                     error.c_str());
    }
    return createLinuxKeyboard(std::move(device), options, stdout, stderr);
}

}  // namespace pellvane::keyboard
