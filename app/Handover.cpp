#include "app/Handover.h"

#include "base/Exception.h"
#include "base/Printable.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace quelmark {

namespace {

constexpr int kPumpMs = 100;
constexpr int kHeartbeatMs = 2000;
// The asking side gives up after this long without a word; the holder speaks every
// kHeartbeatMs however busy it is, since its waits keep dispatching events.
constexpr int kSilenceMs = 15000;
constexpr int kConnectMs = 3000;
// A request line longer than this is not one of ours.
constexpr qint64 kMaxRequest = 64 * 1024;

// The hand-over speaks in lines, each a JSON object whose keys say what it is. A second start
// asks for a run (kRun: kPushAll or kDryRun) of one site or of all (kSite); the holder answers
// with the run's lines and its exit code, and says it is alive meanwhile; a window start asks the
// holder to show its window, or to end and leave the store to it.
const QString kRun = QStringLiteral("run"), kSite = QStringLiteral("site");
const QString kPushAll = QStringLiteral("push-all"), kDryRun = QStringLiteral("dry-run");
const QString kOut = QStringLiteral("out"), kErr = QStringLiteral("err");
const QString kExit = QStringLiteral("exit"), kAlive = QStringLiteral("alive");
const QString kRaise = QStringLiteral("raise"), kRaised = QStringLiteral("raised");
const QString kRelease = QStringLiteral("release"), kReleased = QStringLiteral("released");

void Send(QLocalSocket *socket, const QJsonObject &message)
{
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return;
    socket->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    socket->flush();
}

void Finish(QLocalSocket *socket, const QString &error, int status)
{
    if (!error.isEmpty())
        Send(socket, {{kErr, error}});
    Send(socket, {{kExit, status}});
    if (socket)
        socket->disconnectFromServer();
}

std::optional<QJsonObject> Parse(const QByteArray &line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// Sends one request and waits for the message that carries key; nullopt when the holder does
// not answer in time.
std::optional<QJsonValue> Ask(const TStoreHolder &holder, const QJsonObject &request, const QString &key, int timeoutMs)
{
    std::unique_ptr<QLocalSocket> socket = ConnectToHolder(holder, kConnectMs);
    if (!socket)
        return std::nullopt;
    Send(socket.get(), request);
    QElapsedTimer total, silence;
    total.start();
    silence.start();
    while (total.elapsed() < timeoutMs && silence.elapsed() < kSilenceMs) {
        while (socket->canReadLine()) {
            silence.restart();
            if (const auto message = Parse(socket->readLine()); message && message->contains(key))
                return message->value(key);
        }
        if (socket->state() != QLocalSocket::ConnectedState && socket->bytesAvailable() == 0)
            return std::nullopt;
        socket->waitForReadyRead(200);
    }
    return std::nullopt;
}

} // namespace

struct THandoverServer::TWaiting {
    QPointer<QLocalSocket> socket;
    TRunRequest request;
    // Runs since a dialog has kept this request waiting; invalid while none does.
    QElapsedTimer underDialog;
};

class THandoverServer::TSocketOutput : public TRunOutput {
public:
    explicit TSocketOutput(QLocalSocket *socket) : m_socket(socket) {}
    void Out(const QString &line) override { Send(m_socket, {{kOut, line}}); }
    void Err(const QString &line) override { Send(m_socket, {{kErr, line}}); }

private:
    QPointer<QLocalSocket> m_socket;
};

THandoverServer::THandoverServer(THolder &holder, QObject *parent) : QObject(parent), m_holder(holder)
{
    m_server = new QLocalServer(this);
    // Only this user may hand the program commands or read what a dry run prints.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] { Guarded([this] { Accept(); }); });
    m_pump = new QTimer(this);
    m_pump->setInterval(kPumpMs);
    connect(m_pump, &QTimer::timeout, this, [this] { Guarded([this] { Pump(); }); });
    // Beats only while someone is connected: an idle program is not woken for nobody.
    m_heartbeat = new QTimer(this);
    m_heartbeat->setInterval(kHeartbeatMs);
    connect(m_heartbeat, &QTimer::timeout, this, [this] { Guarded([this] { Beat(); }); });
}

THandoverServer::~THandoverServer()
{
    Close(QStringLiteral("The program that holds the settings store has ended; nothing was run"));
}

QString THandoverServer::ListenBeside(const QString &storePath)
{
    QString note;
    const QString socketPath = HandoverSocketPath(storePath, &note);
    if (!note.isEmpty())
        PrintError(note);
    try {
        Listen(socketPath);
    } catch (const Exception &error) {
        PrintError(error.Message());
    }
    return socketPath;
}

void THandoverServer::Listen(const QString &path)
{
    QLocalServer::removeServer(path);
    if (!m_server->listen(path))
        throw Exception(
            QStringLiteral("Cannot take commands on %1: %2").arg(PrintableText(path), m_server->errorString()));
}

void THandoverServer::Close(const QString &why)
{
    m_server->close();
    for (TWaiting &waiting : m_waiting)
        Finish(waiting.socket, why, 2);
    m_waiting.clear();
    m_pump->stop();
}

void THandoverServer::Accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_sockets.append(socket);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Guarded([this, socket] { Read(socket); }); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!m_heartbeat->isActive())
            m_heartbeat->start();
    }
}

void THandoverServer::Read(QLocalSocket *socket)
{
    while (socket->canReadLine())
        Handle(socket, socket->readLine());
    if (socket->bytesAvailable() > kMaxRequest)
        socket->abort();
}

void THandoverServer::Handle(QLocalSocket *socket, const QByteArray &line)
{
    const std::optional<QJsonObject> message = Parse(line);
    if (!message) {
        Finish(socket, QStringLiteral("Not a request: %1").arg(PrintableBytes(line.trimmed())), 2);
        return;
    }
    if (message->contains(kRaise)) {
        Send(socket, {{kRaised, m_holder.Raise()}});
        return;
    }
    if (message->contains(kRelease)) {
        QPointer<QLocalSocket> asker(socket);
        if (!m_holder.Release([asker] { Send(asker, {{kReleased, true}}); }))
            Send(socket, {{kReleased, false}});
        return;
    }
    const QString run = message->value(kRun).toString();
    if (run != kPushAll && run != kDryRun) {
        Finish(socket, QStringLiteral("Not a request: %1").arg(PrintableBytes(line.trimmed())), 2);
        return;
    }
    TWaiting waiting;
    waiting.socket = socket;
    waiting.request = {run == kPushAll ? TRunMode::PushAll : TRunMode::DryRun, message->value(kSite).toString()};
    m_waiting.push_back(waiting);
    m_pump->start();
}

void THandoverServer::Pump()
{
    m_waiting.remove_if([](const TWaiting &waiting) { return !waiting.socket; });
    if (m_waiting.empty()) {
        m_pump->stop();
        return;
    }
    if (m_running)
        return;
    TWaiting &next = m_waiting.front();
    const THolder::TBusy busy = m_holder.Busy();
    // A dry run only reads, so a dialog does not hold it up; a push would reload the file list
    // the dialog may be working on.
    if (busy == THolder::TBusy::No || (busy == THolder::TBusy::Dialog && next.request.mode == TRunMode::DryRun)) {
        RunNext();
        return;
    }
    if (busy == THolder::TBusy::Pushing) {
        next.underDialog.invalidate();
        return;
    }
    if (!next.underDialog.isValid())
        next.underDialog.start();
    if (next.underDialog.elapsed() >= DialogPatienceMs) {
        Finish(next.socket,
               QStringLiteral("The window has a dialog open, so nothing was pushed; close the dialog and try again"),
               2);
        m_waiting.pop_front();
    }
}

void THandoverServer::RunNext()
{
    TWaiting waiting = m_waiting.front();
    m_waiting.pop_front();
    m_running = true;
    TSocketOutput output(waiting.socket);
    int status = 1;
    try {
        status = m_holder.Run(waiting.request, output);
    } catch (...) {
        output.Err(ExceptionMessage(std::current_exception()));
    }
    m_running = false;
    Finish(waiting.socket, QString(), status);
}

void THandoverServer::Beat()
{
    m_sockets.removeAll(nullptr);
    if (m_sockets.isEmpty())
        m_heartbeat->stop();
    for (const QPointer<QLocalSocket> &socket : m_sockets)
        Send(socket, {{kAlive, true}});
}

std::unique_ptr<QLocalSocket> ConnectToHolder(const TStoreHolder &holder, int timeoutMs)
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(holder.socketPath);
    if (!socket->waitForConnected(timeoutMs))
        return nullptr;
    return socket;
}

int HandOverRun(QLocalSocket &socket, const TStoreHolder &holder, const TRunRequest &request)
{
    Send(&socket, {{kRun, request.mode == TRunMode::DryRun ? kDryRun : kPushAll}, {kSite, request.site}});
    QElapsedTimer silence;
    silence.start();
    for (;;) {
        while (socket.canReadLine()) {
            silence.restart();
            const std::optional<QJsonObject> message = Parse(socket.readLine());
            if (!message)
                continue;
            if (message->contains(kOut))
                PrintLine(stdout, message->value(kOut).toString());
            if (message->contains(kErr))
                PrintError(message->value(kErr).toString());
            if (message->contains(kExit))
                return message->value(kExit).toInt(2);
        }
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0) {
            PrintError(QStringLiteral("The %1 ended before the run was over").arg(HolderText(holder)));
            return 2;
        }
        if (silence.elapsed() > kSilenceMs) {
            PrintError(QStringLiteral("The %1 stopped answering").arg(HolderText(holder)));
            return 2;
        }
        socket.waitForReadyRead(500);
    }
}

bool AskToRaise(const TStoreHolder &holder)
{
    const std::optional<QJsonValue> answer = Ask(holder, {{kRaise, true}}, kRaised, 5000);
    return answer && answer->toBool();
}

bool AskToRelease(const TStoreHolder &holder)
{
    // The service first ends a running upload; the client's own waits bound that.
    const std::optional<QJsonValue> answer = Ask(holder, {{kRelease, true}}, kReleased, 30000);
    return answer && answer->toBool();
}

QString HolderText(const TStoreHolder &holder)
{
    QString text = QStringLiteral("program");
    if (holder.role == roles::Window)
        text = QStringLiteral("window");
    else if (holder.role == roles::Service)
        text = QStringLiteral("service");
    else if (holder.role == roles::PushAll)
        text = QStringLiteral("quelmark --push-all");
    return holder.pid > 0 ? text + QStringLiteral(" (process %1)").arg(holder.pid) : text;
}

} // namespace quelmark
