#include "engine/AddressChoice.h"

#include "base/Printable.h"
#include "net/Sockets.h"

namespace quelmark {

std::optional<TAddressSourceKind> ChosenAddressSource(const TOptions &options)
{
    return AddressSourceFromName(options.addressSource);
}

QString ChooseAddressSource(const TOptions &options, TAddressSource &source)
{
    const std::optional<TAddressSourceKind> kind = ChosenAddressSource(options);
    if (!kind)
        return QStringLiteral("\"Address from:\" names no source this program knows (\"%1\")")
            .arg(PrintableText(options.addressSource));
    const std::optional<TAddressFamily> family = AddressFamilyFromName(options.addressFamily);
    if (!family)
        return QStringLiteral("\"IP version:\" names no version this program knows (\"%1\")")
            .arg(PrintableText(options.addressFamily));
    source.SetSource(*kind);
    source.SetFamily(*family);
    source.SetInterfaceName(options.addressInterface);
    source.SetURL(options.addressURL);
    source.SetCommand(options.addressCommand);
    return QString();
}

TAddressCheck ChosenAddressLookup(TAddressSource *source, std::function<TOptions()> options)
{
    return [source, options = std::move(options)] {
        const QString unusable = ChooseAddressSource(options(), *source);
        return unusable.isEmpty() ? source->Lookup() : TAddressResult::Failed(unusable);
    };
}

void UseChosenAddressSource(TEngineParts &parts, TAddressSource *source)
{
    TEngineData *data = parts.data;
    parts.localAddress = ChosenAddressLookup(source, [data] { return data->Options(); });
    parts.abandonAddressCheck = [source] { source->Abandon(); };
}

QString AddressSourceText(const TOptions &options)
{
    const std::optional<TAddressSourceKind> kind = ChosenAddressSource(options);
    QString detail;
    if (kind == TAddressSourceKind::Interface)
        detail = options.addressInterface;
    else if (kind == TAddressSourceKind::Web)
        detail = options.addressURL;
    else if (kind == TAddressSourceKind::Command)
        detail = options.addressCommand;
    // A source none of the choices names shows as none, as the drop-down shows it.
    const QString source = kind ? options.addressSource : QString();
    QString text = QStringLiteral("Address from: ") + source;
    if (!detail.trimmed().isEmpty())
        text += QStringLiteral(" (%1)").arg(PrintableText(detail.trimmed()));
    if (options.addressFamily == AddressFamilyName(TAddressFamily::IPv6))
        text += QStringLiteral(", IPv6");
    return text;
}

bool MachineHasOwnAddress()
{
    return TSockets().LocalIPAddress() != QLatin1String("127.0.0.1");
}

QString AddressFailureReason(const TAddressResult &found)
{
    static const QString prefix = QStringLiteral("Address check failed: ");
    return PrintableText(found.failure.startsWith(prefix) ? found.failure.mid(prefix.size()) : found.failure);
}

QString PagesWaitLine(const TAddressResult &found)
{
    return QStringLiteral("Address check failed (%1); pages with an address wait").arg(AddressFailureReason(found));
}

QString AddressNote(TAddressSourceKind source, const QString &address)
{
    const TAddressKind kind = ClassifyAddress(address);
    const bool fromOutside = source == TAddressSourceKind::Web || source == TAddressSourceKind::Command;
    if (fromOutside && (kind == TAddressKind::Private || kind == TAddressKind::Loopback ||
                        kind == TAddressKind::LinkLocal || kind == TAddressKind::SharedCgnat)) {
        return QStringLiteral("Warning: %1 from \"%2\" is a %3 address, which the world cannot reach; it is used "
                              "all the same")
            .arg(address, AddressSourceName(source), AddressKindName(kind));
    }
    if (source == TAddressSourceKind::Local && (kind == TAddressKind::Private || kind == TAddressKind::SharedCgnat)) {
        return QStringLiteral("Hint: %1 is a %2 address, which the world cannot reach; to publish the address the "
                              "world sees, choose \"Web\" under \"Address from:\" in the General Options")
            .arg(address, AddressKindName(kind));
    }
    return QString();
}

} // namespace quelmark
