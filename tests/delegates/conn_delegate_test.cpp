#include <gtest/gtest.h>

#include <thread>

#include "delegates/admission_prompt.h"
#include "delegates/conn_delegate_w32.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_keyboard.h"
#include "tests/support/debug_capture.h"
#include "tests/support/eventually.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

class ConnDelegate : public ::testing::Test {
  protected:
    ConnDelegate() {
        keyboard.setScanCode(0x41, 0x1E);
        desktop.addProcess(100, "C:\\Windows\\notepad.exe");
        desktop.addWindow(100);
    }

    int ask(const Message& hello) {
        const ReceivedMessage message = received(hello);
        return delegate.shouldAdmitClient(nullptr, &message);
    }

    FakeKeyboard keyboard;
    FakeDesktop desktop;
    FakeDialogs dialogs;
    RecordingController controller;
    ZarvoConnDelegateW32 delegate{keyboard, desktop, dialogs, controller};
    // Declared last: stopped (and its monitor ended) before the seams go.
    ZarvoServer server{"Pellvane Test", "_kesp._tcp", ""};
};

TEST_F(ConnDelegate, AsksTheUserWithTheDeviceName) {
    dialogs.queueAnswer(dialogs::answerOk);
    EXPECT_EQ(ask(wire::buildHello("Kitchen iPad")), 1);
    const auto boxes = dialogs.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Kitchen iPad requested to connect, accept connection?");
    EXPECT_EQ(boxes[0].caption, "Pellvane Server");
    EXPECT_EQ(boxes[0].style, 0x50121u);
    EXPECT_FALSE(boxes[0].wide);
}

TEST_F(ConnDelegate, OnlyAnExplicitOkAdmits) {
    const Message hello = wire::buildHello("pad");
    dialogs.queueAnswer(dialogs::answerCancel);
    EXPECT_EQ(ask(hello), 0);
    // A box that could not be shown is no agreement either.
    dialogs.queueAnswer(dialogs::boxFailed);
    EXPECT_EQ(ask(hello), 0);
    dialogs.queueAnswer(dialogs::answerOk);
    EXPECT_EQ(ask(hello), 1);
    EXPECT_EQ(delegate.shouldAdmitClient(nullptr, nullptr), 0);
    EXPECT_EQ(dialogs.boxCount(), 3);
}

TEST_F(ConnDelegate, DeviceNameIsReadNoFurtherThanItsFieldOrTheMessage) {
    Message hello = wire::buildHello("");
    std::fill(hello.begin() + 12, hello.begin() + 140, 'n');
    hello.push_back('X');
    EXPECT_EQ(admissionQuestion(hello),
              std::string(128, 'n') + " requested to connect, accept connection?");
    Message shortHello = wire::buildHello("abcdef");
    shortHello.resize(15);
    EXPECT_EQ(admissionQuestion(shortHello), "abc requested to connect, accept connection?");
    EXPECT_EQ(admissionQuestion(Message(5, 'z')), " requested to connect, accept connection?");
}

// The question carries the device's own bytes: none of them may move the cursor, end the
// line or start a terminal sequence, whichever way a terminal reads control characters.
TEST_F(ConnDelegate, ControlCharactersOfTheDeviceNameAreShownEscaped) {
    const auto question = [](const char* name) {
        const std::string text = admissionQuestion(wire::buildHello(name));
        return text.substr(0, text.find(" requested to connect"));
    };
    EXPECT_EQ(question("a\rb\nc\x1b[2Kd\x7f"), "a\\x0db\\x0ac\\x1b[2Kd\\x7f");
    // C1, as a bare byte (CSI for an 8-bit terminal) and UTF-8 encoded (U+009B).
    EXPECT_EQ(question("a\x9b"
                       "2Jb\xc2\x9b"
                       "2J"),
              "a\\x9b2Jb\\xc2\\x9b2J");
    // Letters beyond ASCII pass, their continuation bytes in 0x80-0x9F included (U+2019,
    // U+00E9, U+1F3AE), and so does a stray Latin-1 byte.
    EXPECT_EQ(question("Jan\xe2\x80\x99s caf\xc3\xa9 \xf0\x9f\x8e\xae \xe9"),
              "Jan\xe2\x80\x99s caf\xc3\xa9 \xf0\x9f\x8e\xae \xe9");
    // An overlong or cut-off sequence is no letter: its bytes are judged one by one.
    EXPECT_EQ(question("\xe0\x80\x8a|\xe2\x80"), "\xe0\\x80\\x8a|\xe2\\x80");
}

TEST_F(ConnDelegate, ApplicationListIsBuiltAfreshEachTime) {
    auto list = delegate.applicationList(&server, nullptr);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->records.size(), 1u);
    EXPECT_EQ(list->records[0].nameView(), "notepad");
    desktop.addProcess(200, "C:\\Games\\my.game.exe");
    desktop.addWindow(200);
    list = delegate.applicationList(&server, nullptr);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->records.size(), 2u);
}

TEST_F(ConnDelegate, RoutesEachTypeToItsHandler) {
    DebugCapture capture;
    const wire::GamepadEventBody gamepad{wire::gamepadButton, {{3, 1.0f}}};
    delegate.serverDidReceiveMessage(
        &server, received(wire::buildGamepadEvent(gamepad.kind, gamepad.pairs)));
    EXPECT_EQ(controller.events(), std::vector{gamepad});
    // Pairs that do not all lie inside the message never reach the controller.
    delegate.serverDidReceiveMessage(&server, received(makeMessage(wire::GamepadEvent, 0, 28, 3)));
    EXPECT_EQ(controller.events().size(), 1u);

    delegate.serverDidReceiveMessage(&server, keyMessage(wire::KeyDown, {keyAt(0)}));
    delegate.serverDidReceiveMessage(&server, keyMessage(wire::KeyUp, {keyAt(0)}));
    delegate.waitUntilTyped();
    EXPECT_EQ(keyboard.records(),
              (std::vector<keyboard::KeyRecord>{{0, 0x1E, 0x8, 0}, {0, 0x1E, 0xA, 0}}));

    delegate.serverDidReceiveMessage(&server, received(wire::buildAppName(named("<generic>"))));
    EXPECT_EQ(server.keyFilter().wantedApp().nameView(), "<generic>");
    EXPECT_EQ(capture.count("Received wanted appplication: "), 1);
    EXPECT_EQ(capture.count("Delegate: none event!\n"), 0);

    for (std::uint32_t type : {0u, 1u, 2u, 3u, 7u, 9u, 10u, 0xFFFFFFFFu}) {
        delegate.serverDidReceiveMessage(&server, received(makeMessage(type, 0, 132)));
    }
    delegate.waitUntilTyped();
    EXPECT_EQ(capture.count("Delegate: none event!\n"), 8);
    EXPECT_EQ(controller.events().size(), 1u);
    EXPECT_EQ(keyboard.records().size(), 2u);
}

TEST_F(ConnDelegate, BlockedKeysBeepAndGamepadEventsStillPass) {
    blockKeys(server);
    delegate.serverDidReceiveMessage(&server, keyMessage(wire::KeyDown, {keyAt(0), keyAt(0)}));
    delegate.serverDidReceiveMessage(&server, keyMessage(wire::KeyUp, {keyAt(0)}));
    const wire::GamepadEventBody stick{wire::gamepadAxes, {{0, 1.0f}}};
    delegate.serverDidReceiveMessage(&server,
                                     received(wire::buildGamepadEvent(stick.kind, stick.pairs)));
    delegate.waitUntilTyped();
    EXPECT_EQ(keyboard.beepCount(), 1);
    EXPECT_TRUE(keyboard.records().empty());
    EXPECT_EQ(controller.events(), std::vector{stick});
}

// A key held when another application comes in front is still let go, by the host that
// holds it only; nothing else of the blocked messages is typed.
TEST_F(ConnDelegate, AKeyHeldWhenAnotherApplicationComesInFrontIsStillReleased) {
    keyboard.setScanCode(0x53, 0x1F);
    const net::HostAddress pad{net::Family::ipv4, {10, 0, 0, 1}};
    const net::HostAddress otherPad{net::Family::ipv4, {10, 0, 0, 2}};
    server.keyFilter().replaceForegroundApp(named("game"));
    delegate.serverDidReceiveMessage(&server, received(wire::buildAppName(named("game"))));
    delegate.serverDidReceiveMessageFrom(&server, keyMessage(wire::KeyDown, {keyAt(0)}), pad);
    delegate.waitUntilTyped();
    delegate.serverDidReceiveMessage(&server, received(wire::buildAppName(named("other"))));
    ASSERT_TRUE(server.keyFilter().keysBlocked());

    delegate.serverDidReceiveMessageFrom(&server, keyMessage(wire::KeyUp, {keyAt(0)}), otherPad);
    delegate.serverDidReceiveMessageFrom(&server, keyMessage(wire::KeyDown, {keyAt(1)}), pad);
    delegate.serverDidReceiveMessageFrom(&server, keyMessage(wire::KeyUp, {keyAt(1), keyAt(0)}),
                                         pad);
    delegate.waitUntilTyped();
    EXPECT_EQ(keyboard.records(),
              (std::vector<keyboard::KeyRecord>{{0, 0x1E, 0x8, 0}, {0, 0x1E, 0xA, 0}}));
    EXPECT_EQ(keyboard.beepCount(), 1);
}

TEST_F(ConnDelegate, AdmissionsStartOneMonitorAndOpenTheControllerEachTime) {
    DebugCapture capture;
    delegate.serverDidAdmitClient(nullptr);
    EXPECT_EQ(controller.openCalls(), 0);
    EXPECT_EQ(server.monitorThread.state(), WorkerThread::State::idle);

    delegate.serverDidAdmitClient(&server);
    delegate.serverDidAdmitClient(&server);
    EXPECT_EQ(server.monitorThread.state(), WorkerThread::State::running);
    EXPECT_EQ(controller.openCalls(), 2);
    // No window in front here: each monitor cycle says so, and only one monitor runs.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (capture.count("NULL FMAPP\n") == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(capture.count("NULL FMAPP\n"), 1);
    server.monitorThread.stopAndJoin();
}

TEST_F(ConnDelegate, ControllerOperationsForwardAndDestructionCloses) {
    EXPECT_EQ(delegate.openController(), 1);
    delegate.closeController();
    EXPECT_EQ(controller.closeCalls(), 1);
    RecordingController missing(false);
    auto other = std::make_unique<ZarvoConnDelegateW32>(keyboard, desktop, dialogs, missing);
    EXPECT_EQ(other->openController(), 0);
    EXPECT_EQ(missing.closeCalls(), 0);
    other.reset();
    EXPECT_EQ(missing.closeCalls(), 1);
}

// The delegate behind a real pad service: the prompt decides, the list goes out in the
// HelloReply, and keys arrive over TCP and as datagrams.
class ConnDelegateOnServer : public ConnDelegate {
  protected:
    void SetUp() override {
        padServer = makeServer(&delegate);
        ASSERT_NE(padServer->start(), ZarvoServer::startFailed);
    }
    void TearDown() override { padServer->shutDown(); }

    std::unique_ptr<TestClient> admittedClient() {
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->connect(net::Family::ipv4, padServer->tcpPort()));
        EXPECT_TRUE(client->admit());
        return client;
    }

    // A client whose Hello has raised a question that nobody answers yet.
    std::unique_ptr<TestClient> askingClient() {
        const int asked = dialogs.boxCount();
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->connect(net::Family::ipv4, padServer->tcpPort()));
        EXPECT_TRUE(client->sendHello("pad"));
        EXPECT_TRUE(eventually([&] { return dialogs.boxCount() == asked + 1; }));
        return client;
    }

    static constexpr keyboard::KeyRecord aDown{0, 0x1E, 0x8, 0};
    static constexpr keyboard::KeyRecord aUp{0, 0x1E, 0xA, 0};

    ServerEnvironment environment;
    std::unique_ptr<ZarvoServer> padServer;
};

TEST_F(ConnDelegateOnServer, AdmittedDeviceGetsTheApplicationsAndTypes) {
    dialogs.queueAnswer(dialogs::answerOk);
    TestClient client;
    ASSERT_TRUE(client.connect(net::Family::ipv4, padServer->tcpPort()));
    ASSERT_TRUE(client.sendHello("pad"));
    const auto reply = client.readMessage();
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->header.type, wire::HelloReply);
    const auto apps = wire::readHelloReply(reply->bytes).apps;
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].nameView(), "notepad");
    EXPECT_EQ(apps[0].processId, 100u);
    const auto info = client.readMessage();
    ASSERT_TRUE(info);
    ASSERT_EQ(info->header.type, wire::UdpInfo);

    ASSERT_TRUE(client.send(keyMessage(wire::KeyDown, {keyAt(0)}).bytes));
    eventually([&] { return keyboard.records().size() == 1; });
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, padServer->udpPort4(),
                             keyMessage(wire::KeyUp, {keyAt(0)}).bytes));
    eventually([&] { return keyboard.records().size() == 2; });
    EXPECT_EQ(keyboard.records(),
              (std::vector<keyboard::KeyRecord>{{0, 0x1E, 0x8, 0}, {0, 0x1E, 0xA, 0}}));
    EXPECT_EQ(controller.openCalls(), 1);
}

TEST_F(ConnDelegateOnServer, RefusedDeviceIsSentAway) {
    dialogs.queueAnswer(dialogs::answerCancel);
    TestClient client;
    ASSERT_TRUE(client.connect(net::Family::ipv4, padServer->tcpPort()));
    ASSERT_TRUE(client.sendHello("stranger"));
    const auto reply = client.readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, wire::Refusal);
    EXPECT_TRUE(client.waitForClose());
    EXPECT_EQ(controller.openCalls(), 0);
    EXPECT_EQ(padServer->monitorThread.state(), WorkerThread::State::idle);
}

// Typing runs off the loop: a gamepad event sent behind a long key message is handled while
// the keys are still being typed, and a Disconnect ends the typing at once and lets go of
// the key it held down.
TEST_F(ConnDelegateOnServer, TypingHoldsUpNeitherTheServiceNorItsStop) {
    const auto client = admittedClient();
    const std::vector<wire::KeyEntry> entries(200, keyAt(0));  // four seconds of typing
    ASSERT_TRUE(client->send(keyMessage(wire::KeyDown, entries).bytes));
    const wire::GamepadPair stick[] = {{0, 1.0f}};
    ASSERT_TRUE(client->send(wire::buildGamepadEvent(wire::gamepadAxes, stick)));
    ASSERT_TRUE(eventually([&] { return controller.events().size() == 1; }));
    EXPECT_LT(keyboard.records().size(), entries.size());

    padServer->stop();
    const std::vector<keyboard::KeyRecord> typed = keyboard.records();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(keyboard.records(), typed);
    ASSERT_GE(typed.size(), 2u);
    EXPECT_LT(typed.size(), entries.size());
    EXPECT_EQ(typed.back(), aUp);
    EXPECT_EQ(typed[typed.size() - 2], aDown);
}

// A host that goes lets go of the keys it held down and, as the last pad, of the controller.
TEST_F(ConnDelegateOnServer, APadThatGoesLetsGoOfItsKeysAndTheController) {
    auto first = admittedClient();
    auto second = admittedClient();  // the same host, as a pad that reconnects
    ASSERT_TRUE(first->send(keyMessage(wire::KeyDown, {keyAt(0)}).bytes));
    ASSERT_TRUE(eventually([&] { return keyboard.records().size() == 1; }));
    first->close();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(keyboard.records().size(), 1u);  // its host is still connected
    second->close();
    ASSERT_TRUE(eventually([&] { return keyboard.records().size() == 2; }));
    EXPECT_EQ(keyboard.records().back(), aUp);
    EXPECT_TRUE(eventually([&] { return controller.restCalls() == 1; }));
}

// Disconnect and Quit do not wait for the user: the open question is closed as a refusal.
TEST_F(ConnDelegateOnServer, DisconnectAndQuitCloseAnOpenQuestion) {
    dialogs.holdQuestions();
    for (const bool quit : {false, true}) {
        const auto client = askingClient();
        const auto before = std::chrono::steady_clock::now();
        quit ? padServer->shutDown() : padServer->stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        const auto reply = client->readMessage();
        EXPECT_TRUE(!reply || reply->header.type == wire::Refusal);
        EXPECT_EQ(controller.openCalls(), 0);
        EXPECT_TRUE(quit || eventually([&] { return padServer->isRunning(); }));
    }
}

// Nobody is asked about a device that has gone, and a device that goes while its question
// is open is not admitted on the answer.
TEST_F(ConnDelegateOnServer, DevicesThatHaveGoneAreNeitherAskedAboutNorAdmitted) {
    dialogs.holdQuestions();
    ASSERT_TRUE(eventually([&] { return padServer->watchedCount() > 0; }));  // the loop is up
    const std::uint32_t serviceSockets = padServer->watchedCount();
    auto leaving = askingClient();
    TestClient gone;
    ASSERT_TRUE(gone.connect(net::Family::ipv4, padServer->tcpPort()));
    ASSERT_TRUE(gone.sendHello("gone"));
    gone.close();
    leaving->close();
    std::this_thread::sleep_for(100ms);
    dialogs.answerHeldQuestions(dialogs::answerOk);
    EXPECT_TRUE(eventually([&] { return padServer->watchedCount() == serviceSockets; }, 5s));
    EXPECT_EQ(dialogs.boxCount(), 1);
    EXPECT_EQ(controller.openCalls(), 0);
    EXPECT_EQ(padServer->monitorThread.state(), WorkerThread::State::idle);
}

}  // namespace
}  // namespace pellvane::testing
