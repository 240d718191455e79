#include "delegates/admission_prompt.h"

#include "platform/printable_text.h"
#include "server/wire_reading.h"

namespace pellvane {
namespace {

constexpr char caption[] = "Pellvane Server";
constexpr unsigned promptStyle = dialogs::okCancel | dialogs::iconQuestion |
                                 dialogs::defaultButton2 | dialogs::setForeground |
                                 dialogs::topmost;

}  // namespace

std::string admissionQuestion(std::span<const std::uint8_t> hello) {
    // The name is the device's own say: line breaks or terminal sequences in it could
    // rewrite the question that the user answers.
    std::string question = printableText(wire::readNameField(hello, wire::helloLayout::deviceName));
    question += " requested to connect, accept connection?";
    return question;
}

int askToAdmit(dialogs::Dialogs& dialogs, std::span<const std::uint8_t> hello) {
    const std::string question = admissionQuestion(hello);
    // Admitting a remote keyboard because the question could not be shown would let in a
    // device that nobody agreed to, so only an explicit OK admits.
    return dialogs.messageBox(question.c_str(), caption, promptStyle) == dialogs::answerOk ? 1 : 0;
}

}  // namespace pellvane
