// What the loop does with its clients: accepting them, reading their messages and the
// service's datagrams, admission, writing what waits for them, and dropping them. Every call
// runs on the loop thread (or on a driver that stands in for it); other threads only queue
// messages in the client table and ask through the question asker.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "platform/sockets.h"
#include "server/client_table.h"
#include "server/question_thread.h"
#include "server/refused_hosts.h"
#include "server/wire_protocol.h"

namespace pellvane {

class SocketIo;
class ZarvoServer;

class ClientIntake {
  public:
    using Clock = std::chrono::steady_clock;

    ClientIntake(ZarvoServer& server, SocketIo& io, ClientTable& clients);

    // Where the questions go; the server's own thread unless a driver says otherwise.
    void setQuestionAsker(QuestionAsker& asker) { questions_ = &asker; }

    void acceptFrom(net::SocketHandle listener);
    // One receive into the client's stream; true when it filled all the room it had, so that
    // more may be waiting in the socket.
    bool takeStreamBytes(ClientId client);
    // Up to a pass's share of whole messages of every client; true when some are left.
    bool handleWaitingMessages();
    bool hasWaitingMessages();
    // The datagrams a socket holds, up to a pass's share; true when that share was taken.
    bool takeDatagrams(net::SocketHandle socket, net::Family family,
                       std::vector<std::uint8_t>& buffer);
    // The user's answers that came since the last call.
    void takeAnswers();
    // Writes what waits for each client as far as its connection takes it, and closes the
    // refused ones whose Refusal has gone.
    void writeOutput();
    // Closes connections that said nothing in time and clients that took nothing for long.
    void closeLateAndStalled();
    // The one way a client goes: closed, forgotten, and what it held let go.
    void drop(ClientId client);
    // Forgets the questions and refusals under way (the server has stopped).
    void reset();
    // Forgets which hosts the user refused lately, for a driver that starts afresh.
    void forgetRefusedHosts() { refusedHosts_ = RefusedHosts{}; }

  private:
    void handleMessagesOf(ClientId client, bool& messagesLeft);
    void handleMessage(ClientId client, ReceivedMessage message);
    void handleFirstMessage(ClientId client, ReceivedMessage message);
    void ask(ClientId client, const net::HostAddress& host, ReceivedMessage hello);
    void answered(Answer answer);
    void askNextOf(const net::HostAddress& host);
    void questionGone(ClientId client, const net::HostAddress& host);
    void admit(ClientId client, std::unique_ptr<wire::AppList> applications);
    void refuse(ClientId client);
    void deliver(ClientId client, ReceivedMessage message);
    bool takeDatagram(net::SocketHandle socket, net::Family family,
                      std::vector<std::uint8_t>& buffer);
    bool stillWanted(ClientId client) const;

    struct HostOrder {
        bool operator()(const net::HostAddress& a, const net::HostAddress& b) const;
    };

    ZarvoServer& server_;
    SocketIo& io_;
    ClientTable& clients_;
    QuestionAsker* questions_ = nullptr;
    RefusedHosts refusedHosts_;  // kept across stops: a Disconnect does not forgive
    // Per host, the clients whose Hellos wait for an answer: the first one's question is
    // queued or open, the others wait behind it.
    std::map<net::HostAddress, std::deque<ClientId>, HostOrder> askedHosts_;
    std::map<ClientId, ReceivedMessage> waitingHellos_;  // of clients behind their host's first
    std::set<ClientId> refused_;                         // closed once their Refusal has gone
    // Reused by every pass, so that a pass allocates nothing: the clients a pass serves (a
    // step may drop one), and those it only looks at.
    std::vector<ClientId> passClients_;
    std::vector<ClientId> scratch_;
    std::vector<Answer> answers_;
};

}  // namespace pellvane
