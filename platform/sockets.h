// The operating system's sockets, reduced to what the servers and their tests use.
// Every call reports failure through its return value; none throws.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pellvane::net {

// Wide enough for a Windows SOCKET (64 bits on x64) and a POSIX descriptor.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle invalidSocket = -1;

enum class Family { ipv4, ipv6 };
enum class Transport { stream, datagram };

// An IP address without its port: what the datagram source rule compares.
// IPv4 addresses and IPv4-mapped IPv6 addresses are both held as IPv4.
struct HostAddress {
    Family family = Family::ipv4;
    std::array<std::uint8_t, 16> bytes{};  // IPv4 uses the first four
    friend bool operator==(const HostAddress&, const HostAddress&) = default;
};

// The lengths of an IPv4 and an IPv6 socket address in the platform's layouts, as the system
// reports them for a bound socket or a datagram's sender.
inline constexpr int ipv4AddressLength = 16;
inline constexpr int ipv6AddressLength = 28;

// A port as DNS-SD and the socket-address structures hold it: in network byte order.
inline constexpr std::uint16_t toNetworkOrder(std::uint16_t port) {
    if constexpr (std::endian::native == std::endian::big) {
        return port;
    }
    return static_cast<std::uint16_t>((port >> 8) | (port << 8));
}
// The same swap read the other way: a port from DNS-SD, in host order.
inline constexpr std::uint16_t fromNetworkOrder(std::uint16_t port) {
    return toNetworkOrder(port);
}

// Socket library start and end (Winsock needs them; elsewhere they do nothing).
bool startSocketLibrary();
void stopSocketLibrary();

SocketHandle openSocket(Family family, Transport transport);
// Returns the result of the platform's close: 0 on success.
int closeSocket(SocketHandle socket);

// Owns one socket handle and closes it when it goes: moved into its owner, closed on one
// path whatever way that owner ends.
class Socket {
  public:
    Socket() = default;
    explicit Socket(SocketHandle handle) : handle_(handle) {}
    ~Socket() { reset(); }
    Socket(Socket&& other) noexcept : handle_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    SocketHandle get() const { return handle_; }
    bool valid() const { return handle_ != invalidSocket; }
    explicit operator bool() const { return valid(); }
    // Gives the handle up without closing it.
    SocketHandle release() {
        const SocketHandle handle = handle_;
        handle_ = invalidSocket;
        return handle;
    }
    // Closes the handle held (if any) and holds `handle` instead; the close's result.
    int reset(SocketHandle handle = invalidSocket) {
        const SocketHandle old = handle_;
        handle_ = handle;
        return old == invalidSocket ? 0 : closeSocket(old);
    }

  private:
    SocketHandle handle_ = invalidSocket;
};

bool setReuseAddress(SocketHandle socket);
// Keeps every other socket off the port this one binds, whatever options that one sets:
// SO_EXCLUSIVEADDRUSE on Windows. POSIX systems never let a second socket listen on a TCP
// port in use, so a stream socket gets SO_REUSEADDR (a restart may bind a port still in
// TIME_WAIT) and a datagram socket nothing (there SO_REUSEADDR would share the port).
bool setExclusiveAddress(SocketHandle socket, Transport transport);
bool setNonBlocking(SocketHandle socket);
bool setReceiveBufferSize(SocketHandle socket, int bytes);
// Sends each write at once instead of waiting to fill a segment (Nagle's algorithm).
bool setNoDelay(SocketHandle socket);
// Probes an idle connection: after `idleSeconds` without traffic, then every
// `intervalSeconds`; `probes` unanswered ones end it, so that the connection of a peer that
// vanished without closing comes to an end. Windows sets its own probe count.
bool setKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int probes);

// Binds to the wildcard address of the family (IPv6 sockets accept IPv6 only).
bool bindWildcard(SocketHandle socket, Family family, std::uint16_t port);
bool bindLoopback(SocketHandle socket, Family family, std::uint16_t port);
// Binds to one local address given as numeric text (a second loopback address, say).
bool bindAddress(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port);
// Reads the bound address back. `addressLength` receives the length the system
// reported for it, which callers compare against the family's expected size.
bool boundPort(SocketHandle socket, std::uint16_t& port, int& addressLength);
bool listenOn(SocketHandle socket, int backlog);

SocketHandle acceptConnection(SocketHandle listener);
bool connectTo(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port);
// Connects, giving up after `timeoutMs` when the host does not answer (a blocking connect
// would wait for the system's own timeout, minutes on some systems). The socket is left
// non-blocking whatever the outcome.
bool connectWithin(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                   int timeoutMs);
bool peerHost(SocketHandle socket, HostAddress& host);
// "192.0.2.1", or an IPv6 address in its shortest form ("2001:db8::1", "::ffff:192.0.2.1").
std::string hostText(const HostAddress& host);

// Results of the transfer calls: bytes moved (> 0), 0 when the peer closed (receive only),
// or one of these negative values.
inline constexpr int transferFailed = -1;
inline constexpr int transferWouldBlock = -2;

int receiveSome(SocketHandle socket, void* buffer, std::size_t length);
int sendSome(SocketHandle socket, const void* data, std::size_t length);
// Sends the whole buffer, waiting up to `timeoutMs` in all for the socket to drain.
bool sendAll(SocketHandle socket, const void* data, std::size_t length, int timeoutMs);

// One datagram. `sourceLength` receives the length of the sender's address as the system
// reported it (16 for IPv4, 28 for IPv6 in the platform's socket-address layouts).
struct DatagramSource {
    HostAddress host;
    int sourceLength = 0;
};
int receiveDatagram(SocketHandle socket, void* buffer, std::size_t length, DatagramSource& source);
int sendDatagram(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                 const void* data, std::size_t length);

// Looks, without waiting and without taking anything, whether the peer of a connected
// socket is gone: true when it closed its side and nothing is left to read, or when the
// connection was reset. The socket must be non-blocking on Windows (Winsock has no flag
// for one call).
bool peerHasGone(SocketHandle socket);

// Half-closes both directions without releasing the handle, so that the thread that owns
// the socket sees it end and closes it itself.
void shutdownBoth(SocketHandle socket);
// Ends the sending direction only: the peer reads the end of the stream, replies still arrive.
bool shutdownSend(SocketHandle socket);
// Makes the next close end the connection with a reset instead of an orderly close
// (linger time 0), as a peer that vanishes does.
bool setResetOnClose(SocketHandle socket);

// Waits until a socket is readable (or writable, where asked) or has an exception, or
// `timeoutMs` passes. `flags` (as many as `sockets`, in the same order) say on the way in
// what to wait for and on the way out what was found; returns the number of marks made (a
// socket both readable and exceptional counts twice), 0 on timeout, or -1 when the wait fails.
struct ReadinessFlags {
    // In: what the caller waits for. Exceptions are always looked for.
    bool wantReadable = true;
    bool wantWritable = false;  // only while there is something to send
    // Out.
    bool readable = false;
    bool writable = false;
    bool exceptional = false;
};
int waitForReadiness(std::span<const SocketHandle> sockets, std::span<ReadinessFlags> flags,
                     int timeoutMs);

// The addresses of a host name or numeric address, as numeric text, in the order the
// system's resolver prefers them; empty when the name does not resolve.
struct NumericAddress {
    Family family = Family::ipv4;
    std::array<char, 64> text{};
};
std::vector<NumericAddress> lookUpHost(const char* name);

// The computer's host name; false when the system cannot say.
bool hostName(char* buffer, std::size_t size);

}  // namespace pellvane::net
