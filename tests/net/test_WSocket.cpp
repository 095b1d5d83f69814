// TWSocket on real loopback TCP. The peer is a plain blocking POSIX socket driven from the test;
// the socket under test runs on the application's event loop with a fast countdown.
#include "net/WSocket.h"

#include "base/Wait.h"
#include "net/UniqueFd.h"
#include "tests/support/Printing.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

using namespace quelmark;

namespace {

constexpr std::uint16_t kTickMs = 20;

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::uint16_t PortOf(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// A blocking listener on 127.0.0.1 and a free port.
UniqueFd PeerListener()
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in address = Loopback(0);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd.Get(), 5) != 0)
        ADD_FAILURE() << "cannot listen on loopback";
    return fd;
}

// Runs the event loop until the condition holds or the time is up.
template <typename Condition> bool PumpUntil(Condition condition, int milliseconds = 2000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

void Pump(int milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}

void PeerSend(const UniqueFd &peer, const std::string &bytes)
{
    ASSERT_EQ(::send(peer.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

std::string PeerReceive(const UniqueFd &peer, std::size_t expected)
{
    std::string received;
    char chunk[8192];
    while (received.size() < expected) {
        pollfd p{peer.Get(), POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            break;
        const ssize_t n = ::recv(peer.Get(), chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        received.append(chunk, static_cast<std::size_t>(n));
    }
    return received;
}

// Counts how often each event fired.
struct EventLog {
    int dataSent = 0;
    int sessionClosed = 0;
    int sessionConnected = 0;
    std::uint16_t connectError = 0;

    void Attach(TWSocket &socket)
    {
        socket.OnDataSent = [this](QObject *, std::uint16_t) { ++dataSent; };
        socket.OnSessionClosed = [this](QObject *, std::uint16_t) { ++sessionClosed; };
        socket.OnSessionConnected = [this](QObject *, std::uint16_t error) {
            ++sessionConnected;
            connectError = error;
        };
    }
};

class WSocketTest : public ::testing::Test {
protected:
    void SetUp() override { wait.SetInterval(kTickMs); }

    // Connects the socket to the test's listener and returns the peer's end. The write report
    // that follows every new connection is handled before this returns.
    UniqueFd ConnectToPeer(TWSocket &socket)
    {
        ConnectOnly(socket);
        UniqueFd peer(::accept(listener.Get(), nullptr, nullptr));
        Pump(30);
        return peer;
    }

    // Connects to the test's listener, where someone else accepts.
    void ConnectOnly(TWSocket &socket)
    {
        socket.SetWaitCtrl(&wait);
        socket.SetAddr(QStringLiteral("127.0.0.1"));
        socket.SetPort(QString::number(PortOf(listener.Get())));
        socket.Connect();
        EXPECT_TRUE(socket.Wait(100, TSocketState::Connected));
    }

    TWait wait;
    UniqueFd listener = PeerListener();
};

// The server's side of TLS on a blocking socket, in a thread of its own while the socket under
// test runs on the event loop: accepts one connection, shakes hands and runs the script.
class TlsPeer {
public:
    TlsPeer(const UniqueFd &listener, std::function<void(SSL *)> script)
        : m_thread([fd = listener.Get(), script = std::move(script)] {
              const UniqueFd peer(::accept(fd, nullptr, nullptr));
              const auto &certificate = test::Certificates().server;
              SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
              SSL_CTX_use_certificate_chain_file(ctx, QFile::encodeName(certificate.certificate).constData());
              SSL_CTX_use_PrivateKey_file(ctx, QFile::encodeName(certificate.key).constData(), SSL_FILETYPE_PEM);
              SSL *ssl = SSL_new(ctx);
              SSL_set_fd(ssl, peer.Get());
              if (SSL_accept(ssl) == 1)
                  script(ssl);
              SSL_free(ssl);
              SSL_CTX_free(ctx);
          })
    {
    }
    ~TlsPeer() { m_thread.join(); }

private:
    std::thread m_thread;
};

std::shared_ptr<TTlsContext> TestTlsContext()
{
    QString error;
    std::shared_ptr<TTlsContext> context = TTlsContext::Make(test::Certificates().caFile, error);
    EXPECT_TRUE(context) << error.toStdString();
    return context;
}

// Fails the platform send while blocked is set, as a full send buffer would, and records the
// size of every offer it passes on.
class ThrottledSocket : public TWSocket {
public:
    bool blocked = false;
    std::vector<std::int64_t> offers;

protected:
    IoResult PlatformSend(const char *bytes, std::int64_t count) override
    {
        if (blocked) {
            blocked = false;
            return {-1, 10035};
        }
        offers.push_back(count);
        return TWSocket::PlatformSend(bytes, count);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Line reading

TEST_F(WSocketTest, ReadLineJoinsALineThatArrivesInTwoPieces)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    PeerSend(peer, "220 Serv");
    QTimer::singleShot(3 * kTickMs, [&] { PeerSend(peer, "ice ready\r\n"); });
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("220 Service ready"));
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_EQ(socket.ReadCount(), 19);
}

TEST_F(WSocketTest, SecondOfTwoLinesInOneSegmentIsReadWithoutWaiting)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    PeerSend(peer, "first\r\nsecond\r\n");
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("first"));
    wait.SetInterval(1000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("second"));
    EXPECT_LT(clock.elapsed(), 500);
}

TEST_F(WSocketTest, CrIsDroppedAnywhereAndLfAloneEndsALine)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    PeerSend(peer, "a\rb\r\r\nc\nd\r\n");
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("ab"));
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("c"));
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("d"));
}

TEST_F(WSocketTest, ReadLineContinuesPartialLineAfterTimeout)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    PeerSend(peer, "abc");
    EXPECT_EQ(socket.ReadLine(3), QStringLiteral("abc"));
    EXPECT_EQ(wait.ModalResult(), 2);
    PeerSend(peer, "def\r\n");
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("abcdef"));
}

TEST_F(WSocketTest, LongLineKeepsItsFirst255CharactersAndIsNeverSplit)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    PeerSend(peer, std::string(300, 'x') + "\r\nnext\r\n");
    EXPECT_EQ(socket.ReadLine(50), QString(255, QLatin1Char('x')));
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("next"));
}

TEST_F(WSocketTest, PeerClosingWhileReadLineWaitsDeliversTheRestAndReportsTheCloseOnce)
{
    TWSocket socket;
    EventLog events;
    UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    PeerSend(peer, "partial");
    QTimer::singleShot(2 * kTickMs, [&] { peer.Reset(); });
    EXPECT_EQ(socket.ReadLine(10), QStringLiteral("partial"));
    EXPECT_EQ(wait.ModalResult(), 2) << "a close without LF does not end the countdown";
    EXPECT_EQ(socket.State(), TSocketState::Closed);
    EXPECT_EQ(events.sessionClosed, 1);
    socket.Close();
    Pump(50);
    EXPECT_EQ(events.sessionClosed, 1);
}

TEST_F(WSocketTest, LastLineBeforeThePeerClosesEndsTheWaitAtOnce)
{
    TWSocket socket;
    EventLog events;
    UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    PeerSend(peer, "221 Goodbye\r\n");
    peer.Reset();
    EXPECT_EQ(socket.ReadLine(50), QStringLiteral("221 Goodbye"));
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_TRUE(PumpUntil([&] { return socket.State() == TSocketState::Closed; }));
    EXPECT_EQ(events.sessionClosed, 1);
}

TEST_F(WSocketTest, ReadLineWithoutAHandleReturnsEmptyAtOnceAndWithoutCountdownRaises)
{
    TWSocket socket;
    socket.SetWaitCtrl(&wait);
    wait.SetInterval(1000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(socket.ReadLine(30), QString());
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_FALSE(wait.Waiting());

    wait.SetInterval(kTickMs);
    TWSocket other;
    const UniqueFd peer = ConnectToPeer(other);
    other.SetWaitCtrl(nullptr);
    EXPECT_EQ(test::MessageOf<ESocketException>([&] { other.ReadLine(5); }),
              QStringLiteral("Error 11004 in function TWSocket.Wait\r\nNo Data"));
}

// ---------------------------------------------------------------------------------------------
// Connecting and waiting

TEST_F(WSocketTest, RefusedConnectEndsWaitEarlyWithFalse)
{
    const std::uint16_t port = PortOf(listener.Get());
    listener.Reset();
    TWSocket socket;
    EventLog events;
    events.Attach(socket);
    socket.SetWaitCtrl(&wait);
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    socket.SetPort(QString::number(port));
    socket.Connect();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(socket.Wait(100, TSocketState::Connected));
    EXPECT_LT(clock.elapsed(), 100 * kTickMs / 2);
    EXPECT_EQ(events.sessionConnected, 1);
    EXPECT_EQ(events.connectError, 10061);
    EXPECT_EQ(socket.State(), TSocketState::Closed);
    EXPECT_EQ(socket.HSocket(), -1);
}

TEST_F(WSocketTest, ConnectRefusesAnOpenSocketAndMissingConversions)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    EXPECT_THROW(
        {
            try {
                socket.Connect();
            } catch (const ESocketException &e) {
                EXPECT_EQ(e.Message(), QStringLiteral("Connect: Socket already in use"));
                throw;
            }
        },
        ESocketException);
    socket.Close();
    try {
        socket.Connect();
        FAIL();
    } catch (const ESocketException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Connect: No Port Specified")) << "Close forgets the converted values";
    }
}

// ---------------------------------------------------------------------------------------------
// Sending

TEST_F(WSocketTest, SendQueuesFullBlocksAndReportsTheEmptyQueueOnceFromTheEventLoop)
{
    ThrottledSocket socket;
    EventLog events;
    const UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    std::string bytes(4000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);

    socket.blocked = true;
    socket.Send(bytes.data(), 4000);
    EXPECT_EQ(socket.QueuedBlockSizes(), (std::vector<std::int32_t>{1514, 1514, 972}));
    EXPECT_EQ(events.dataSent, 0);
    EXPECT_TRUE(PumpUntil([&] { return events.dataSent > 0; }));
    EXPECT_EQ(socket.offers, (std::vector<std::int64_t>{1514, 1514, 972}));
    EXPECT_EQ(PeerReceive(peer, 4000), bytes);
    Pump(50);
    EXPECT_EQ(events.dataSent, 1);
    EXPECT_EQ(socket.QueuedBlockSizes(), (std::vector<std::int32_t>{0}));
}

TEST_F(WSocketTest, SendThatGoesOutAtOnceStillReportsOnDataSentLater)
{
    ThrottledSocket socket;
    EventLog events;
    const UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    const std::string bytes(4000, 'z');
    socket.Send(QByteArray::fromStdString(bytes));
    EXPECT_EQ(socket.offers, (std::vector<std::int64_t>{1514, 1514, 972}));
    EXPECT_EQ(events.dataSent, 0);
    Pump(50);
    EXPECT_EQ(events.dataSent, 1);
    EXPECT_EQ(PeerReceive(peer, 4000), bytes);
}

// SendSome offers the bytes once and queues nothing of its own: what the platform did not take
// stays with the caller, OnDataSent says when there is room, and the sends of one pass get one
// report. Behind bytes that Send queued, the bytes join the queue, so the order holds.
TEST_F(WSocketTest, SendSomeOffersTheBytesOnceAndReportsOnceAPass)
{
    ThrottledSocket socket;
    EventLog events;
    const UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    const std::string block(4000, 'a');

    EXPECT_EQ(socket.SendSome(block.data(), 4000), 4000);
    EXPECT_EQ(socket.SendSome("bc", 2), 2);
    EXPECT_EQ(socket.offers, (std::vector<std::int64_t>{4000, 2}));
    EXPECT_EQ(events.dataSent, 0);
    Pump(50);
    EXPECT_EQ(events.dataSent, 1);
    EXPECT_EQ(PeerReceive(peer, 4002), block + "bc");

    socket.blocked = true;
    EXPECT_EQ(socket.SendSome("de", 2), 0);
    EXPECT_TRUE(std::all_of(socket.QueuedBlockSizes().begin(), socket.QueuedBlockSizes().end(),
                            [](std::int32_t size) { return size == 0; }));
    EXPECT_TRUE(PumpUntil([&] { return events.dataSent == 2; })) << "no report of room";

    socket.blocked = true;
    socket.Send("fg", 2);
    EXPECT_EQ(socket.SendSome("hi", 2), 2);
    EXPECT_TRUE(PumpUntil([&] { return events.dataSent >= 3; }));
    EXPECT_EQ(PeerReceive(peer, 4), "fghi");
}

// A peer that takes the bytes slowly through a small buffer leaves SendSome many partial offers;
// handing the rest on at each OnDataSent brings every byte across, in order.
TEST_F(WSocketTest, SendSomeToASlowPeerDeliversEveryByteInOrder)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    // A small send buffer: the platform takes a part of each offer.
    const int small = 4096;
    ::setsockopt(socket.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 13) >> 5);
    std::string received;
    std::thread reader([&] {
        char chunk[4096];
        ssize_t n = 0;
        while ((n = ::recv(peer.Get(), chunk, sizeof chunk, 0)) > 0) {
            received.append(chunk, static_cast<std::size_t>(n));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::size_t handed = 0;
    int partial = 0;
    const auto handOn = [&] {
        while (handed < bytes.size()) {
            const auto offer = static_cast<std::int32_t>(std::min<std::size_t>(65536, bytes.size() - handed));
            const std::int32_t taken = socket.SendSome(bytes.data() + handed, offer);
            handed += static_cast<std::size_t>(taken);
            if (taken < offer) {
                ++partial;
                return;
            }
        }
    };
    socket.OnDataSent = [&](QObject *, std::uint16_t) { handOn(); };
    handOn();
    EXPECT_TRUE(PumpUntil([&] { return handed == bytes.size(); }, 15000));
    socket.OnDataSent = nullptr;
    socket.Shutdown(1);
    reader.join();
    EXPECT_GT(partial, 0) << "the platform took every offer whole";
    EXPECT_TRUE(received == bytes) << received.size() << " bytes arrived";
}

TEST_F(WSocketTest, SendOnAnUnconnectedSocketRaises10057AndClosesItsHandle)
{
    TWSocket socket;
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    socket.SetPort(QStringLiteral("0"));
    socket.Listen();
    ASSERT_NE(socket.HSocket(), -1);
    EXPECT_EQ(test::MessageOf<ESocketException>([&] { socket.Send("x", 1); }),
              QStringLiteral("Error 10057 in function Send\r\nSocket is not connected"));
    EXPECT_EQ(socket.HSocket(), -1);
    EXPECT_EQ(socket.State(), TSocketState::Closed);
}

TEST_F(WSocketTest, CloseDropsUnsentBytesSoTheNextConnectionNeverSeesThem)
{
    ThrottledSocket socket;
    UniqueFd first = ConnectToPeer(socket);
    socket.blocked = true;
    socket.Send("stale", 5);
    socket.Close();
    EXPECT_TRUE(socket.QueuedBlockSizes().empty());

    const UniqueFd second = ConnectToPeer(socket);
    socket.Send("fresh", 5);
    EXPECT_EQ(PeerReceive(second, 5), "fresh");
}

// ---------------------------------------------------------------------------------------------
// Conversions

TEST_F(WSocketTest, PortTakesNumbersAndServiceNamesAndRefusesTheRest)
{
    TWSocket socket;
    socket.SetPort(QStringLiteral("ftp"));
    EXPECT_EQ(AddressPort(socket.SocketAddress()), 21);
    socket.SetPort(QStringLiteral(" 8021x "));
    EXPECT_EQ(AddressPort(socket.SocketAddress()), 8021);
    socket.SetPort(QStringLiteral("65557"));
    EXPECT_EQ(AddressPort(socket.SocketAddress()), 21) << "cut to 16 bits";

    const struct {
        const char *text;
        const char *message;
    } refused[] = {
        {"no-such-service", "Error 11004 in function SetPort: Cannot convert port 'no-such-service'\r\nNo Data"},
        {"   ", "Error 11004 in function SetPort: Cannot convert port ''\r\nNo Data"},
    };
    for (const auto &row : refused) {
        EXPECT_EQ(test::MessageOf<ESocketException>([&] { socket.SetPort(QString::fromLatin1(row.text)); }),
                  QString::fromLatin1(row.message));
        socket.SetAddr(QStringLiteral("127.0.0.1"));
        EXPECT_EQ(test::MessageOf<ESocketException>([&] { socket.Connect(); }),
                  QStringLiteral("Connect: No Port Specified"));
    }
}

TEST_F(WSocketTest, ProtoTakesNumbersAndNamesAndRefusesTheRest)
{
    TWSocket socket;
    socket.SetProto(QStringLiteral("udp"));
    socket.SetProto(QStringLiteral("6"));
    EXPECT_EQ(test::MessageOf<ESocketException>([&] { socket.SetProto(QStringLiteral(" nonsense ")); }),
              QStringLiteral("Error 11004 in function SetProto: Cannot convert protocol 'nonsense'\r\nNo Data"));
    socket.SetPort(QStringLiteral("21"));
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    EXPECT_THROW(socket.Connect(), ESocketException);
}

TEST_F(WSocketTest, SameAddrTextIsResolvedOnceUntilTheSocketCloses)
{
    TWSocket socket;
    const std::uint64_t before = ResolveHostCalls();
    socket.SetAddr(QStringLiteral("localhost"));
    socket.SetAddr(QStringLiteral("localhost"));
    EXPECT_EQ(ResolveHostCalls() - before, 1u);
    EXPECT_EQ(AddressText(socket.SocketAddress()), QStringLiteral("127.0.0.1"));
    socket.Close();
    socket.SetAddr(QStringLiteral("localhost"));
    EXPECT_EQ(ResolveHostCalls() - before, 1u) << "Close on a closed socket resets nothing";

    const UniqueFd peer = ConnectToPeer(socket);
    socket.Close();
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ResolveHostCalls() - before, 3u);
}

TEST_F(WSocketTest, ResolveHostTakesDottedFormsAndRefusesAnEmptyName)
{
    EXPECT_EQ(ResolveHost(QStringLiteral(" 10.1.2.3 ")), htonl(0x0A010203));
    EXPECT_EQ(ResolveHost(QStringLiteral("255.255.255.255")), INADDR_BROADCAST);
    EXPECT_EQ(ResolveHost(QStringLiteral("0.0.0.0")), INADDR_ANY);
    EXPECT_EQ(test::MessageOf<ESocketException>([&] { ResolveHost(QStringLiteral("  ")); }),
              QStringLiteral("SetAddr: Cannot convert host address '  '"));
    EXPECT_TRUE(GetHostByName(QString()).empty());
    EXPECT_FALSE(LocalHostName().isEmpty());
}

// ---------------------------------------------------------------------------------------------
// Notifications, closing and ownership

TEST_F(WSocketTest, NotificationsQueuedBeforeCloseOrDupAreIgnored)
{
    TWSocket socket;
    EventLog events;
    const UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    socket.Send("a", 1); // queues a write report
    socket.Close();
    Pump(50);
    EXPECT_EQ(events.dataSent, 0);

    const UniqueFd second = ConnectToPeer(socket);
    events.dataSent = 0;
    socket.Send("a", 1);
    const int closedHandle = socket.HSocket();
    socket.Close();
    const UniqueFd third = ConnectToPeer(socket);
    ASSERT_EQ(socket.HSocket(), closedHandle) << "the next connection reuses the descriptor number";
    EXPECT_EQ(events.dataSent, 1) << "only the new connection's own write report counts";

    const int adopted = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(PortOf(listener.Get()));
    ASSERT_EQ(::connect(adopted, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const UniqueFd fourth(::accept(listener.Get(), nullptr, nullptr));
    events = EventLog{};
    events.Attach(socket);
    socket.Send("b", 1);
    socket.SetHSocket(adopted);
    Pump(50);
    EXPECT_EQ(events.dataSent, 1) << "only the adopted handle's own write report counts";
    EXPECT_EQ(socket.State(), TSocketState::Connected);
}

TEST_F(WSocketTest, OnSessionClosedFiresOncePerConnection)
{
    TWSocket socket;
    EventLog events;
    UniqueFd peer = ConnectToPeer(socket);
    events.Attach(socket);
    peer.Reset();
    EXPECT_TRUE(PumpUntil([&] { return socket.State() == TSocketState::Closed; }));
    socket.Close();
    Pump(30);
    EXPECT_EQ(events.sessionClosed, 1);

    const UniqueFd again = ConnectToPeer(socket);
    socket.Close();
    socket.Close();
    Pump(30);
    EXPECT_EQ(events.sessionClosed, 2);
}

TEST_F(WSocketTest, DestroyingTheOwnerClosesItsSocketsSilently)
{
    int closedReports = 0;
    int stateReports = 0;
    auto connectOwned = [&](QObject *owner) {
        auto *socket = new TWSocket(owner);
        UniqueFd peer = ConnectToPeer(*socket);
        socket->OnSessionClosed = [&](QObject *, std::uint16_t) { ++closedReports; };
        socket->OnChangeState = [&](QObject *, TSocketState, TSocketState) { ++stateReports; };
        return peer;
    };

    auto plainOwner = std::make_unique<QObject>();
    const UniqueFd peer1 = connectOwned(plainOwner.get());
    auto widgetOwner = std::make_unique<QWidget>();
    const UniqueFd peer2 = connectOwned(widgetOwner.get());
    plainOwner.reset();
    widgetOwner.reset();
    EXPECT_EQ(closedReports, 0);
    EXPECT_EQ(stateReports, 0);
    EXPECT_EQ(PeerReceive(peer1, 1), "") << "the connection was closed";

    auto *alone = new TWSocket;
    const UniqueFd peer3 = ConnectToPeer(*alone);
    alone->OnSessionClosed = [&](QObject *, std::uint16_t) { ++closedReports; };
    delete alone;
    EXPECT_EQ(closedReports, 1) << "a socket destroyed on its own reports its close";
}

TEST_F(WSocketTest, ListeningSocketAcceptsAndAdoptsTheOfferedConnection)
{
    TWSocket server;
    server.SetWaitCtrl(&wait);
    server.SetAddr(QStringLiteral("0.0.0.0"));
    server.SetPort(QStringLiteral("0"));
    EXPECT_EQ(server.Listen(), 0);
    EXPECT_EQ(server.State(), TSocketState::Listening);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ASSERT_EQ(server.GetSockName(local, length), 0);
    ASSERT_NE(local.sin_port, 0);

    server.OnSessionAvailable = [&](QObject *, std::uint16_t) { server.SetHSocket(server.Accept()); };
    UniqueFd client(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in address = Loopback(ntohs(local.sin_port));
    ASSERT_EQ(::connect(client.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    EXPECT_TRUE(server.Wait(100, TSocketState::Connected));
    EXPECT_EQ(AddressText(server.SocketAddress()), QStringLiteral("127.0.0.1"));
    PeerSend(client, "STOR data\r\n");
    EXPECT_EQ(server.ReadLine(50), QStringLiteral("STOR data"));
}

// The same socket over IPv6: an address written as itself, listening, connecting and taking
// the connection, the peer's address read back.
TEST_F(WSocketTest, Ipv6LoopbackListensConnectsAndAccepts)
{
    TWSocket server;
    server.SetWaitCtrl(&wait);
    server.SetAddr(QStringLiteral("::1"));
    server.SetPort(QStringLiteral("0"));
    ASSERT_EQ(server.Listen(), 0);
    sockaddr_storage local{};
    ASSERT_EQ(server.GetSockName(local), 0);
    EXPECT_EQ(local.ss_family, AF_INET6);
    server.OnSessionAvailable = [&](QObject *, std::uint16_t) { server.SetHSocket(server.Accept()); };

    TWSocket client;
    client.SetWaitCtrl(&wait);
    client.SetAddr(QStringLiteral("::1"), 50);
    client.SetPort(QString::number(AddressPort(local)));
    client.Connect();
    ASSERT_TRUE(client.Wait(100, TSocketState::Connected));
    ASSERT_TRUE(server.Wait(100, TSocketState::Connected));
    EXPECT_EQ(AddressText(server.SocketAddress()), QStringLiteral("::1"));
    client.Send(QByteArray("EPSV\r\n"));
    EXPECT_EQ(server.ReadLine(50), QStringLiteral("EPSV"));
}

TEST_F(WSocketTest, FailedListenLeavesNoHandleBehind)
{
    TWSocket first;
    first.SetAddr(QStringLiteral("127.0.0.1"));
    first.SetPort(QString::number(PortOf(listener.Get())));
    try {
        first.Listen();
        FAIL();
    } catch (const ESocketException &e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Error 10048 in function Bind\r\n")));
    }
    EXPECT_EQ(first.HSocket(), -1);
    EXPECT_EQ(first.State(), TSocketState::Closed);
}

// ---------------------------------------------------------------------------------------------
// Failures raised by handlers

TEST_F(WSocketTest, HandlerFailureWhileReadLineWaitsLeavesReadLine)
{
    TWSocket socket;
    UniqueFd peer = ConnectToPeer(socket);
    socket.OnSessionClosed = [](QObject *, std::uint16_t) { throw ESocketException(QStringLiteral("peer gone")); };
    QTimer::singleShot(2 * kTickMs, [&] { peer.Reset(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(test::MessageOf<ESocketException>([&] { socket.ReadLine(100); }), QStringLiteral("peer gone"));
    EXPECT_LT(clock.elapsed(), 100 * kTickMs / 2);
    EXPECT_EQ(socket.State(), TSocketState::Closed);
    EXPECT_FALSE(wait.Waiting());
}

TEST_F(WSocketTest, ReadHandlerFailureIsSwallowedAndStopsThatDelivery)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    int reported = 0;
    SetTopLevelReporter([&](const QString &) { ++reported; });
    int calls = 0;
    socket.OnDataAvailable = [&](QObject *, std::uint16_t) {
        ++calls;
        throw ESocketException(QStringLiteral("bad data"));
    };
    PeerSend(peer, "xyz");
    EXPECT_TRUE(PumpUntil([&] { return calls > 0; }));
    Pump(50);
    SetTopLevelReporter({});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reported, 0);
}

TEST_F(WSocketTest, ReadHandlerThatTakesNothingDoesNotSpin)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    int calls = 0;
    socket.OnDataAvailable = [&](QObject *, std::uint16_t) { ++calls; };
    PeerSend(peer, "unread");
    Pump(100);
    EXPECT_GE(calls, 1);
    EXPECT_LE(calls, 3);
    char buffer[16];
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer), 6);
}

TEST_F(WSocketTest, PausedSocketIgnoresTrafficUntilResumed)
{
    TWSocket socket;
    const UniqueFd peer = ConnectToPeer(socket);
    int calls = 0;
    std::string received;
    socket.OnDataAvailable = [&](QObject *, std::uint16_t) {
        ++calls;
        char buffer[64];
        const std::int32_t n = socket.Receive(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    };
    socket.Pause();
    PeerSend(peer, "later");
    Pump(60);
    EXPECT_EQ(calls, 0);
    socket.Resume();
    EXPECT_TRUE(PumpUntil([&] { return received == "later"; }));
}

TEST(WSocketBookkeeping, SocketCountFollowsTheLivingSocketsAndTheLastOneClearsTheStartedMark)
{
    const std::int32_t before = TWSocket::SocketCount();
    {
        TWSocket a;
        TWSocket b;
        EXPECT_EQ(TWSocket::SocketCount(), before + 2);
        EXPECT_TRUE(TWSocket::LibraryStarted());
    }
    EXPECT_EQ(TWSocket::SocketCount(), before);
    if (before == 0) {
        EXPECT_FALSE(TWSocket::LibraryStarted());
    }
}

// ---------------------------------------------------------------------------------------------
// TLS

TEST_F(WSocketTest, TlsCarriesLinesAndDataAndEndsTheSendingSideWithCloseNotify)
{
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 13 + i / 4099);
    std::string received;
    bool endedWithCloseNotify = false;
    TWSocket socket;
    {
        const TlsPeer peer(listener, [&](SSL *ssl) {
            SSL_write(ssl, "first\r\nsecond\r\n", 15);
            char chunk[16384];
            int n = 0;
            while ((n = SSL_read(ssl, chunk, sizeof chunk)) > 0)
                received.append(chunk, static_cast<std::size_t>(n));
            endedWithCloseNotify = SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
        });
        ConnectOnly(socket);
        socket.StartTls(TestTlsContext(), {QStringLiteral("localhost"), {}});
        ASSERT_TRUE(socket.WaitForTls(100)) << socket.TlsError().toStdString();
        EXPECT_TRUE(socket.TlsSummary().endsWith(QLatin1String("certificate CN=localhost,O=Quelmark tests (verified)")))
            << socket.TlsSummary().toStdString();
        EXPECT_EQ(socket.ReadLine(50), QStringLiteral("first"));
        wait.SetInterval(1000);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(socket.ReadLine(50), QStringLiteral("second")) << "the second line came in the same record";
        EXPECT_LT(clock.elapsed(), 500);

        socket.Send(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        socket.Shutdown(1);
        // The platform counts encrypted bytes; what is owed must never exceed what was handed over.
        std::int64_t most = 0;
        EXPECT_TRUE(PumpUntil([&] {
            const std::int64_t owed = socket.UnacknowledgedBytes();
            most = std::max(most, owed);
            return owed == 0;
        }));
        EXPECT_LE(most, static_cast<std::int64_t>(bytes.size()));
    }
    EXPECT_TRUE(received == bytes) << received.size() << " bytes arrived";
    EXPECT_TRUE(endedWithCloseNotify);
}

// A server pays for each record: the blocks the OnDataSent loop hands over one at a time leave
// in full records, and what was gathered goes as soon as the loop pauses.
TEST_F(WSocketTest, TlsGathersTheBlocksOfTheSendingLoopIntoFullRecords)
{
    constexpr int kBlocks = 64;
    std::string received;
    std::vector<int> recordSizes;
    std::atomic<std::size_t> arrived = 0;
    TWSocket socket;
    {
        const TlsPeer peer(listener, [&](SSL *ssl) {
            char chunk[16384];
            int n = 0;
            while ((n = SSL_read(ssl, chunk, sizeof chunk)) > 0) {
                // Each read returns at most one record.
                recordSizes.push_back(n);
                received.append(chunk, static_cast<std::size_t>(n));
                arrived = received.size();
            }
        });
        ConnectOnly(socket);
        socket.StartTls(TestTlsContext(), {QStringLiteral("localhost"), {}});
        ASSERT_TRUE(socket.WaitForTls(100)) << socket.TlsError().toStdString();
        const std::string block(1024, 'b');
        int sent = 0;
        socket.OnDataSent = [&](QObject *, std::uint16_t) {
            if (sent < kBlocks) {
                socket.Send(block.data(), 1024);
                ++sent;
            }
        };
        EXPECT_TRUE(PumpUntil([&] { return arrived == kBlocks * 1024; }));
        socket.OnDataSent = nullptr;
        socket.Send("pause", 5);
        EXPECT_TRUE(PumpUntil([&] { return arrived == kBlocks * 1024 + 5; })) << "a send outside the loop goes at once";
        socket.Shutdown(1);
        PumpUntil([&] { return socket.UnacknowledgedBytes() == 0; });
    }
    EXPECT_EQ(received, std::string(kBlocks * 1024, 'b') + "pause");
    EXPECT_LE(recordSizes.size(), 7u) << "one record per block instead of full ones";
}

TEST_F(WSocketTest, TlsHandshakeThatStallsOrIsCutFailsWithinTheCountdownAndBreaksTheConnectionOff)
{
    struct Row {
        const char *what;
        std::function<void(UniqueFd &)> peer;
        QString error;
        bool atOnce;
    };
    const Row rows[] = {
        {"silent", [](UniqueFd &) {}, QStringLiteral("The TLS handshake did not finish within 5 seconds"), false},
        {"closed after the hello",
         [](UniqueFd &peer) {
             PeerReceive(peer, 1);
             peer.Reset();
         },
         QStringLiteral("The server closed the connection during the TLS handshake"), true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TWSocket socket;
        EventLog events;
        UniqueFd peer = ConnectToPeer(socket);
        events.Attach(socket);
        socket.StartTls(TestTlsContext(), {QStringLiteral("localhost"), {}});
        row.peer(peer);
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(socket.WaitForTls(5));
        if (row.atOnce) {
            EXPECT_LT(clock.elapsed(), 5 * kTickMs);
        }
        EXPECT_EQ(socket.TlsError(), row.error);
        EXPECT_EQ(socket.State(), TSocketState::Closed);
        EXPECT_EQ(socket.HSocket(), -1);
        EXPECT_EQ(events.sessionClosed, 1);
    }
}
