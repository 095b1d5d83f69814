#include "net/AddressSource.h"

#include "base/Dispatch.h"
#include "base/Exception.h"
#include "base/Printable.h"
#include "net/CommandCapture.h"
#include "net/NetworkInterfaces.h"
#include "net/Sockets.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace quelmark {

// One Web or Command check in flight. It reports its outcome once, through the function given
// to Begin, possibly before Begin returns when the settings are unusable.
class AddressCheck : public QObject {
public:
    using Done = std::function<void(const TAddressResult &result)>;

    AddressCheck(QObject *owner, TAddressFamily family, int timeoutMs)
        : QObject(owner), m_family(family), m_timeoutMs(timeoutMs)
    {
    }

    virtual void Begin(Done done) = 0;

protected:
    void Conclude(const TAddressResult &result)
    {
        if (!m_done)
            return;
        // Moved out first: the receiver may schedule this check's end.
        const Done done = std::exchange(m_done, nullptr);
        done(result);
    }

    TAddressResult TimedOut() const
    {
        return TAddressResult::Failed(QStringLiteral("timed out after %1 s").arg(m_timeoutMs / 1000.0));
    }

    QString FamilyName() const { return AddressFamilyName(m_family); }

    Done m_done;
    const TAddressFamily m_family;
    const int m_timeoutMs;
};

namespace {

class WebCheck : public AddressCheck {
public:
    WebCheck(QObject *owner, QNetworkAccessManager *network, const QString &url, TAddressFamily family, int timeoutMs)
        : AddressCheck(owner, family, timeoutMs), m_network(network), m_url(url.trimmed()), m_bound(new QTimer(this))
    {
        m_bound->setSingleShot(true);
        connect(m_bound, &QTimer::timeout, this, [this] {
            Guarded([this] {
                DropReply();
                Conclude(TimedOut());
            });
        });
    }
    ~WebCheck() override { DropReply(); }

    void Begin(Done done) override
    {
        m_done = std::move(done);
        const QUrl url(m_url, QUrl::StrictMode);
        if (m_url.isEmpty())
            return Conclude(TAddressResult::Failed(QStringLiteral("no check URL is set")));
        if (!url.isValid() || url.host().isEmpty() ||
            (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
            return Conclude(
                TAddressResult::Failed(QStringLiteral("%1 is not an http or https URL").arg(PrintableText(m_url))));
        QNetworkRequest request(url);
        request.setMaximumRedirectsAllowed(TAddressSource::kMaxRedirects);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        // Address services answer a program plain text where a browser would get a page.
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Quelmark address check"));
        m_reply = m_network->get(request);
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { Guarded([this] { Read(); }); });
        connect(m_reply, &QNetworkReply::finished, this, [this] {
            Guarded([this] {
                Read();
                Judge();
            });
        });
        m_bound->start(m_timeoutMs);
    }

private:
    void Read()
    {
        if (!m_reply)
            return;
        m_body += m_reply->read(TAddressSource::kMaxAnswer - m_body.size());
        // Enough is read: the rest of the page is not fetched at all.
        if (m_body.size() >= TAddressSource::kMaxAnswer)
            Judge();
    }

    void Judge()
    {
        if (!m_reply)
            return;
        const QNetworkReply::NetworkError error = m_reply->error();
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QString errorText = m_reply->errorString();
        DropReply();
        if (error == QNetworkReply::TooManyRedirectsError) {
            return Conclude(TAddressResult::Failed(QStringLiteral("%1 redirected more than %2 times")
                                                       .arg(PrintableText(m_url))
                                                       .arg(TAddressSource::kMaxRedirects)));
        }
        if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
            return Conclude(
                TAddressResult::Failed(QStringLiteral("%1 answered %2").arg(PrintableText(m_url)).arg(status.toInt())));
        if (error != QNetworkReply::NoError)
            return Conclude(TAddressResult::Failed(
                QStringLiteral("%1 could not be reached: %2").arg(PrintableText(m_url), PrintableText(errorText))));
        const QString address = FindAddress(m_body, m_family);
        Conclude(address.isEmpty()
                     ? TAddressResult::Failed(QStringLiteral("no %1 address in the answer").arg(FamilyName()))
                     : TAddressResult::Found(address));
    }

    // The reply may be the sender being handled, and the manager may have gone first.
    void DropReply()
    {
        m_bound->stop();
        if (!m_reply)
            return;
        QNetworkReply *reply = std::exchange(m_reply, nullptr);
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }

    QNetworkAccessManager *m_network;
    const QString m_url;
    QTimer *m_bound;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
};

class CommandCheck : public AddressCheck {
public:
    CommandCheck(QObject *owner, const QString &command, TAddressFamily family, int timeoutMs)
        : AddressCheck(owner, family, timeoutMs), m_command(command.trimmed()), m_capture(new TCommandCapture(this))
    {
        m_capture->OnFinished = [this](QObject *) { Judge(); };
    }

    void Begin(Done done) override
    {
        m_done = std::move(done);
        if (m_command.isEmpty())
            return Conclude(TAddressResult::Failed(QStringLiteral("no address command is set")));
        if (!m_capture->Start(m_command, m_timeoutMs)) {
            Conclude(TAddressResult::Failed(
                QStringLiteral("could not start %1: %2").arg(PrintableText(m_command), m_capture->StartError())));
        }
    }

private:
    void Judge()
    {
        const int status = m_capture->Status();
        switch (m_capture->End()) {
        case TCaptureEnd::TimedOut:
            return Conclude(TimedOut());
        case TCaptureEnd::Signalled:
            return Conclude(TAddressResult::Failed(
                QStringLiteral("%1 was ended by signal %2").arg(PrintableText(m_command)).arg(status)));
        default:
            break;
        }
        if (status != 0) {
            return Conclude(TAddressResult::Failed(
                QStringLiteral("%1 exited with status %2").arg(PrintableText(m_command)).arg(status)));
        }
        const QString address = FindAddress(m_capture->Output(), m_family);
        Conclude(
            address.isEmpty()
                ? TAddressResult::Failed(
                      QStringLiteral("no %1 address in the output of %2").arg(FamilyName(), PrintableText(m_command)))
                : TAddressResult::Found(address));
    }

    const QString m_command;
    TCommandCapture *m_capture;
};

TAddressResult LocalIpv4Address()
{
    const QString address = TSockets().LocalIPAddress();
    // An own name that cannot be resolved is a look-up that failed: "0.0.0.0" in a page would
    // send its visitors nowhere.
    if (address == QLatin1String("0.0.0.0"))
        return TAddressResult::Failed(QStringLiteral("this machine's own name cannot be resolved"));
    if (address != QLatin1String("127.0.0.1"))
        return TAddressResult::Found(address);
    TAddressResult notConnected = TAddressResult::Failed(QStringLiteral("no IPv4 address outside loopback"));
    notConnected.address = address;
    return notConnected;
}

void WakeUpDispatcher()
{
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

} // namespace

QString AddressSourceName(TAddressSourceKind source)
{
    switch (source) {
    case TAddressSourceKind::Local:
        break;
    case TAddressSourceKind::Interface:
        return QStringLiteral("Interface");
    case TAddressSourceKind::Web:
        return QStringLiteral("Web");
    case TAddressSourceKind::Command:
        return QStringLiteral("Command");
    }
    return QStringLiteral("Local");
}

std::optional<TAddressSourceKind> AddressSourceFromName(const QString &name)
{
    for (TAddressSourceKind source : {TAddressSourceKind::Local, TAddressSourceKind::Interface, TAddressSourceKind::Web,
                                      TAddressSourceKind::Command}) {
        if (name == AddressSourceName(source))
            return source;
    }
    return std::nullopt;
}

TAddressSource::TAddressSource(QObject *owner) : QObject(owner) {}

// The checks go before the manager whose replies they hold.
TAddressSource::~TAddressSource()
{
    Abandon();
}

void TAddressSource::Abandon()
{
    const QObjectList children = QObject::children();
    for (QObject *child : children) {
        if (auto *check = dynamic_cast<AddressCheck *>(child))
            delete check;
    }
}

TAddressResult TAddressSource::Lookup()
{
    if (AnswersAtOnce())
        return LookUpAtOnce();
    std::optional<TAddressResult> outcome;
    QPointer<AddressCheck> check = MakeCheck();
    DispatchScope scope;
    check->Begin([&outcome](const TAddressResult &result) {
        outcome = result;
        WakeUpDispatcher();
    });
    // Like every wait of the program: block for the next event, handle what is pending, and
    // look at the outcome between passes.
    while (!outcome && check) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        if (scope.HasParked()) {
            delete check;
            scope.RethrowParked();
        }
    }
    delete check;
    if (!outcome)
        return TAddressResult::Failed(QStringLiteral("the check was abandoned"));
    return *outcome;
}

void TAddressSource::Start()
{
    const auto deliver = [this](const TAddressResult &result) {
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                Guarded([&] {
                    if (OnDone)
                        OnDone(this, result);
                });
            },
            Qt::QueuedConnection);
    };
    if (AnswersAtOnce())
        return deliver(LookUpAtOnce());
    AddressCheck *check = MakeCheck();
    check->Begin([check, deliver](const TAddressResult &result) {
        check->deleteLater();
        deliver(result);
    });
}

bool TAddressSource::AnswersAtOnce() const
{
    return m_source == TAddressSourceKind::Local || m_source == TAddressSourceKind::Interface;
}

TAddressResult TAddressSource::LookUpAtOnce() const
{
    if (m_source == TAddressSourceKind::Interface)
        return SelectInterfaceAddress(ListNetworkInterfaces(), m_interfaceName.trimmed(), m_family);
    if (m_family == TAddressFamily::IPv6)
        return SelectGlobalIpv6Address(ListNetworkInterfaces());
    return LocalIpv4Address();
}

AddressCheck *TAddressSource::MakeCheck()
{
    if (m_source == TAddressSourceKind::Web)
        return new WebCheck(this, Network(), m_url, m_family, m_timeoutMs);
    return new CommandCheck(this, m_command, m_family, m_timeoutMs);
}

// Made at the first Web check only, so the other sources never start the HTTP machinery.
QNetworkAccessManager *TAddressSource::Network()
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

} // namespace quelmark
