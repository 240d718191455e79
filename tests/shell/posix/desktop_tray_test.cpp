// The Linux tray and its questions against a bus that lives in the test: the menu that the
// panel reads and clicks, the notification that asks, and who may answer it.
#include "shell/posix/desktop_tray.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/sockets.h"
#include "shell/posix/dbus_menu.h"
#include "shell/posix/desktop_dialogs.h"
#include "shell/posix/status_notifier_item.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/shell/posix/fake_session_bus.h"
#include "tests/support/eventually.h"

namespace pellvane::testing {
namespace {

using bus::Value;
using shell::MenuCommand;

constexpr char question[] = "my_pad <b>&amp; requested to connect, accept connection?";
constexpr unsigned questionStyle = dialogs::okCancel | dialogs::iconQuestion;

std::vector<std::string> labels(const std::vector<shell::MenuItem>& items) {
    std::vector<std::string> found;
    for (const shell::MenuItem& item : items) {
        found.push_back(item.separator ? "-" : item.label);
    }
    return found;
}

TEST(DesktopMenu, HoldsTheQuestionThePadsAndDisconnectOnlyWhenSomeoneIsConnected) {
    shell::TrayState state;
    state.channelPort = 4321;
    EXPECT_EQ(labels(shell::desktopMenuItems(state)),
              (std::vector<std::string>{"Channel server port: 4321", "No pad connected", "-",
                                        "Start at _login", "_Informazioni su...", "-", "_Quit"}));
    state.padClientConnected = true;
    state.pads = {{"tab_1", "192.0.2.7"}, {"phone", "2001:db8::1"}};
    // A forged name: escape sequences, a byte that is no UTF-8, a mnemonic marker.
    state.questionDevice = "ev\x1b[2Jil_\xff";
    const auto items = shell::desktopMenuItems(state);
    EXPECT_EQ(
        labels(items),
        (std::vector<std::string>{
            "Allow ev\\x1b[2Jil__\xEF\xBF\xBD", "Refuse ev\\x1b[2Jil__\xEF\xBF\xBD", "-",
            "Channel server port: 4321", "Connected pads: tab__1 (192.0.2.7), phone (2001:db8::1)",
            "-", "_Disconnect", "Start at _login", "_Informazioni su...", "-", "_Quit"}));
    EXPECT_EQ(shell::commandOf(items, shell::allowItem), MenuCommand::allow);
    EXPECT_EQ(shell::commandOf(items, shell::portLineItem), MenuCommand::none);  // disabled
}

TEST(DbusMenu, ThePanelReadsTheLayoutAndAClickReachesOnlyAnItemThatIsThere) {
    FakeSessionBus bus;
    std::vector<MenuCommand> chosen;
    shell::DbusMenu menu(bus, [&](MenuCommand command) { chosen.push_back(command); });
    ASSERT_TRUE(menu.publish());
    shell::TrayState state;
    state.questionDevice = "pad";
    menu.show(shell::desktopMenuItems(state));
    ASSERT_EQ(bus.signals.size(), 1u);
    EXPECT_EQ(bus.signals[0].member, "LayoutUpdated");

    const auto call = [&](const std::string& member, std::vector<Value> arguments) {
        return bus.invoke(shell::DbusMenu::objectPath, shell::DbusMenu::interfaceName, member,
                          std::move(arguments));
    };
    const bus::Reply layout =
        call("GetLayout", {Value::int32(0), Value::int32(-1), Value::array("s")});
    ASSERT_EQ(layout.body.size(), 2u);
    EXPECT_EQ(layout.body[0].number, menu.revision());
    EXPECT_EQ(layout.body[1].signature(), "(ia{sv}av)");
    EXPECT_EQ(layout.body[1].items[2].items.size(), menu.items().size());
    const Value& allow = layout.body[1].items[2].items[0].unwrapped();
    EXPECT_EQ(bus::findProperty(allow.items[1], "label")->text, "Allow pad");

    const auto click = [&](std::int32_t id) {
        return call("Event", {Value::int32(id), Value::string("clicked"),
                              Value::variant(Value::int32(0)), Value::uint32(0)});
    };
    EXPECT_TRUE(click(shell::quitItem).errorName.empty());
    EXPECT_TRUE(click(shell::portLineItem).errorName.empty());
    EXPECT_EQ(chosen, std::vector{MenuCommand::quit});
    // The question is gone by the time a panel that kept the old layout clicks Allow.
    menu.show(shell::desktopMenuItems({}));
    EXPECT_EQ(bus.signals.size(), 2u);
    menu.show(shell::desktopMenuItems({}));
    EXPECT_EQ(bus.signals.size(), 2u);  // nothing changed, nothing said
    EXPECT_FALSE(click(shell::allowItem).errorName.empty());
    EXPECT_EQ(chosen, std::vector{MenuCommand::quit});
    EXPECT_FALSE(call("GetLayout", {Value::string("wrong")}).errorName.empty());
}

// A panel started after the program still gets the icon; without one the user hears once
// how to get it.
TEST(StatusNotifierItem, RegistersAgainWithEachNewWatcherAndTellsOnceThatThereIsNone) {
    FakeSessionBus bus;
    int toldNoTray = 0;
    shell::StatusNotifierItem item(bus, "", [&] { ++toldNoTray; });
    ASSERT_TRUE(item.publish());
    ASSERT_EQ(bus.count("RegisterStatusNotifierItem"), 1);
    EXPECT_EQ(bus.calls.back().arguments, std::vector{Value::string(bus.names.back())});
    const auto fail = [&] {
        bus::Message error;
        error.type = bus::MessageType::error;
        error.errorName = "org.freedesktop.DBus.Error.ServiceUnknown";
        for (auto& call : bus.calls) {
            if (call.onReply) {
                auto handler = std::move(call.onReply);
                call.onReply = nullptr;
                handler(error);
            }
        }
    };
    fail();
    EXPECT_EQ(toldNoTray, 1);
    const auto watcherAppears = [&] {
        bus.deliver("org.freedesktop.DBus", "NameOwnerChanged",
                    {Value::string(shell::StatusNotifierItem::watcherName), Value::string(""),
                     Value::string(":1.77")});
    };
    watcherAppears();
    ASSERT_EQ(bus.count("RegisterStatusNotifierItem"), 2);
    fail();
    EXPECT_EQ(toldNoTray, 1);
    watcherAppears();
    bus.reply("RegisterStatusNotifierItem", {});
    EXPECT_TRUE(item.registered());
    item.setNeedsAttention(true);
    EXPECT_EQ(bus.signals.back().member, "NewStatus");
    EXPECT_EQ(
        bus.invoke(
               shell::StatusNotifierItem::objectPath, "org.freedesktop.DBus.Properties", "Get",
               {Value::string(shell::StatusNotifierItem::interfaceName), Value::string("Status")})
            .body,
        std::vector{Value::variant(Value::string("NeedsAttention"))});
}

// The tray on a fake bus whose notification server has buttons, and a question asked from
// another thread, as the pad service's question thread asks.
class DesktopQuestionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto owned = std::make_unique<FakeSessionBus>();
        bus = owned.get();
        bus->answers["GetCapabilities"] = {Value::stringArray({"actions", "body-markup"})};
        bus->answers["Notify"] = {Value::uint32(17)};
        tray = std::make_unique<shell::DesktopTray>(std::move(owned), dialogs, "", nullptr);
        ASSERT_TRUE(tray->start(std::chrono::milliseconds(0)));
    }

    void TearDown() override {
        dialogs.closeQuestions();
        tray.reset();
    }

    std::future<int> ask() {
        auto answer = std::async(std::launch::async, [this] {
            return dialogs.messageBox(question, "Pellvane Server", questionStyle);
        });
        EXPECT_TRUE(eventually([&] {
            tray->process();
            return bus->count("Notify") == notices + 1;
        }));
        ++notices;
        return answer;
    }

    shell::DesktopDialogs dialogs{std::make_unique<FakeDialogs>()};
    FakeSessionBus* bus = nullptr;
    std::unique_ptr<shell::DesktopTray> tray;
    int notices = 0;
};

TEST_F(DesktopQuestionTest, TheNoticeAsksWithAllowAndRefuseAndOnlyItsServerAnswers) {
    std::future<int> answer = ask();
    const auto& notify = bus->calls.back().arguments;
    ASSERT_EQ(notify.size(), 8u);
    EXPECT_EQ(notify[4].text, "my_pad &lt;b&gt;&amp;amp; requested to connect, accept connection?");
    EXPECT_EQ(notify[5], Value::stringArray({"allow", "Allow", "refuse", "Refuse"}));
    EXPECT_EQ(bus::findProperty(notify[6], "urgency")->number, 2);
    EXPECT_EQ(notify[7].number, 0);  // never expires
    EXPECT_EQ(dialogs.openQuestionDevice(), "my_pad <b>&amp;");

    // Another program on the bus claims the click: it did not show the notice.
    bus->deliver(":1.66", "ActionInvoked", {Value::uint32(17), Value::string("allow")});
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    bus->deliver(":1.50", "ActionInvoked", {Value::uint32(17), Value::string("allow")});
    EXPECT_EQ(answer.get(), dialogs::answerOk);
}

TEST_F(DesktopQuestionTest, ADismissedNoticeAClosedQuestionAndAnUnknownActionAllRefuse) {
    std::future<int> dismissed = ask();
    bus->deliver(":1.50", "NotificationClosed", {Value::uint32(17), Value::uint32(2)});
    EXPECT_EQ(dismissed.get(), dialogs::answerCancel);

    std::future<int> clickedBody = ask();
    bus->deliver(":1.50", "ActionInvoked", {Value::uint32(17), Value::string("default")});
    EXPECT_EQ(clickedBody.get(), dialogs::answerCancel);

    std::future<int> closed = ask();
    dialogs.closeQuestions();  // Disconnect or Quit
    EXPECT_EQ(closed.get(), dialogs::answerCancel);
    tray->process();
    EXPECT_EQ(bus->count("CloseNotification"), 1);  // the notice is withdrawn
}

TEST_F(DesktopQuestionTest, TheMenuAnswersTheOpenQuestion) {
    std::future<int> answer = ask();
    dialogs.answer(0, true);
    EXPECT_EQ(answer.get(), dialogs::answerOk);
    tray->process();
    EXPECT_EQ(bus->count("CloseNotification"), 1);
    EXPECT_EQ(dialogs.openQuestionDevice(), std::nullopt);
}

// Without notifications that ask, the fallback's box asks; the menu's answer still counts
// and ends the box, and a box that agrees after the question was closed admits nobody.
TEST(DesktopDialogsFallback, TheMenuEndsTheBoxAndAClosedQuestionStaysRefused) {
    auto owned = std::make_unique<FakeDialogs>();
    FakeDialogs& box = *owned;
    box.holdQuestions();
    shell::DesktopDialogs dialogs(std::move(owned));
    auto ask = [&] {
        return std::async(std::launch::async, [&] {
            return dialogs.messageBox(question, "Pellvane Server", questionStyle);
        });
    };
    std::future<int> allowed = ask();
    ASSERT_TRUE(eventually([&] { return dialogs.openQuestionDevice().has_value(); }));
    ASSERT_TRUE(eventually([&] { return box.boxCount() == 1; }));
    dialogs.answer(0, true);
    EXPECT_EQ(allowed.get(), dialogs::answerOk);

    std::future<int> closed = ask();
    ASSERT_TRUE(eventually([&] { return box.boxCount() == 2; }));
    dialogs.closeQuestions();
    EXPECT_EQ(closed.get(), dialogs::answerCancel);
}

TEST(HostText, HostAddressesAreWrittenInTheirShortestForm) {
    net::HostAddress v4;
    v4.bytes = {192, 0, 2, 7};
    EXPECT_EQ(net::hostText(v4), "192.0.2.7");
    net::HostAddress v6;
    v6.family = net::Family::ipv6;
    v6.bytes = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(net::hostText(v6), "2001:db8::1:0:0:1");
    v6.bytes = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 7};
    EXPECT_EQ(net::hostText(v6), "::ffff:192.0.2.7");
    v6.bytes = {};
    EXPECT_EQ(net::hostText(v6), "::");
}

}  // namespace
}  // namespace pellvane::testing
