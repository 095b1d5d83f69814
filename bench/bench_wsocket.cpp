// Throughput of TWSocket over loopback: 1024-byte blocks sent as the file transfer sends them
// (the next block from OnDataSent), against a plain blocking send loop of the same blocks. A
// thread drains the receiving end in both cases.
#include "net/WSocket.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <thread>

using namespace quelmark;

namespace {

constexpr std::int64_t kBlock = 1024;
constexpr std::int64_t kBytesPerRun = 8 * 1024 * 1024;

// A loopback listener and a thread that accepts one connection and reads it to its end.
class Drain {
public:
    Drain()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Drain()
    {
        m_thread.join();
        ::close(m_listener);
    }
    std::uint16_t Port() const { return m_port; }

private:
    void Run()
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        std::array<char, 65536> buffer;
        while (::recv(fd, buffer.data(), buffer.size(), 0) > 0) {
        }
        ::close(fd);
    }

    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

void RunTWSocketTransfer()
{
    Drain drain;
    TWSocket socket;
    const std::array<char, kBlock> block{};
    std::int64_t sent = 0;
    bool done = false;
    socket.OnDataSent = [&](QObject *, std::uint16_t) {
        if (sent >= kBytesPerRun) {
            done = true;
            return;
        }
        sent += kBlock;
        socket.Send(block.data(), kBlock);
    };
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    socket.SetPort(QString::number(drain.Port()));
    socket.Connect();
    // The write report after the connection starts the chain of blocks.
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    socket.Shutdown(1);
    socket.OnDataSent = nullptr;
    socket.Close();
}

void RunPlainTransfer()
{
    Drain drain;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(drain.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    const std::array<char, kBlock> block{};
    for (std::int64_t sent = 0; sent < kBytesPerRun; sent += kBlock)
        ::send(fd, block.data(), kBlock, MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

void BM_TWSocketSendPacedByOnDataSent(benchmark::State &state)
{
    for (auto _ : state)
        RunTWSocketTransfer();
    state.SetBytesProcessed(state.iterations() * kBytesPerRun);
}
BENCHMARK(BM_TWSocketSendPacedByOnDataSent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainBlockingSendLoop(benchmark::State &state)
{
    for (auto _ : state)
        RunPlainTransfer();
    state.SetBytesProcessed(state.iterations() * kBytesPerRun);
}
BENCHMARK(BM_PlainBlockingSendLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
