#include "controller/preferred_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/controller/gamepad_message.h"

namespace pellvane {
namespace {

// A controller that opens when the test says it is there, and notes what it was asked.
class StubController : public GamepadController {
  public:
    StubController(std::string name, std::vector<std::string>& log) : name_(name), log_(log) {}

    bool present = false;

    int startController() override { return note("start", present ? 1 : 0); }
    int openController() override {
        open_ = present;
        return note("open", open_ ? 1 : 0);
    }
    void closeController() override { note("close", 0); }
    void lastPadGone() override { note("gone", 0); }
    bool isOpen() const override { return open_; }
    void handleGamepadEvent(const wire::GamepadEventBody&) override { note("event", 0); }

  private:
    int note(const char* call, int result) {
        log_.push_back(name_ + " " + call + (result != 0 ? " 1" : ""));
        return result;
    }

    std::string name_;
    std::vector<std::string>& log_;
    bool open_ = false;
};

using Log = std::vector<std::string>;

struct Controllers {
    Log log;
    StubController hid{"hid", log};
    StubController bus{"bus", log};
    PreferredController preferred{hid, bus};
};

TEST(PreferredController, TheHidDeviceComesFirstAndTheBusIsNotAsked) {
    Controllers c;
    c.hid.present = c.bus.present = true;
    EXPECT_EQ(c.preferred.startController(), 1);
    c.preferred.openController();
    c.preferred.handleGamepadEvent(testing::buttonEvent(0, 1.0f));
    EXPECT_EQ(c.log, (Log{"hid start 1", "hid open 1", "hid event"}));
}

TEST(PreferredController, WithoutTheHidDeviceTheBusIsChosenForGood) {
    Controllers c;
    c.bus.present = true;
    EXPECT_EQ(c.preferred.startController(), 1);
    c.hid.present = true;  // appearing later changes nothing
    c.preferred.openController();
    c.preferred.handleGamepadEvent(testing::buttonEvent(0, 1.0f));
    c.preferred.lastPadGone();
    EXPECT_EQ(c.log,
              (Log{"hid start", "bus start 1", "bus open 1", "bus event", "hid gone", "bus gone"}));
}

TEST(PreferredController, WithNeitherEachAdmissionTriesTheHidDeviceThenTheBus) {
    Controllers c;
    EXPECT_EQ(c.preferred.startController(), 0);
    EXPECT_EQ(c.preferred.openController(), 0);
    c.hid.present = true;
    EXPECT_EQ(c.preferred.openController(), 1);
    c.preferred.openController();
    c.preferred.handleGamepadEvent(testing::buttonEvent(0, 1.0f));
    c.preferred.closeController();
    EXPECT_EQ(c.log, (Log{"hid start", "bus start", "hid open", "bus open", "hid open 1",
                          "hid open 1", "hid event", "hid close", "bus close"}));
    EXPECT_TRUE(c.preferred.isOpen());
}

}  // namespace
}  // namespace pellvane
