#include "engine/AddressChoice.h"

#include "catalogue/GeneralOptions.h"
#include "catalogue/RegControls.h"

namespace quelmark {

std::optional<TAddressSourceKind> ChosenAddressSource(const TGeneralOptions &options)
{
    return AddressSourceFromName(options.cmbAddressSource->currentText());
}

QString ChooseAddressSource(const TGeneralOptions &options, TAddressSource &source)
{
    const std::optional<TAddressSourceKind> kind = ChosenAddressSource(options);
    if (!kind) {
        return QStringLiteral("\"Address from:\" names no source this program knows (\"%1\")")
            .arg(options.cmbAddressSource->RegText());
    }
    const std::optional<TAddressFamily> family = AddressFamilyFromName(options.cmbAddressFamily->currentText());
    if (!family) {
        return QStringLiteral("\"IP version:\" names no version this program knows (\"%1\")")
            .arg(options.cmbAddressFamily->RegText());
    }
    source.SetSource(*kind);
    source.SetFamily(*family);
    source.SetInterfaceName(options.cmbAddressInterface->currentText());
    source.SetURL(options.edtAddressURL->text());
    source.SetCommand(options.edtAddressCommand->text());
    return QString();
}

TAddressCheck ChosenAddressLookup(TAddressSource *source, const TGeneralOptions *options)
{
    return [source, options] {
        const QString unusable = ChooseAddressSource(*options, *source);
        return unusable.isEmpty() ? source->Lookup() : TAddressResult::Failed(unusable);
    };
}

void UseChosenAddressSource(TEngineParts &parts, TAddressSource *source)
{
    parts.localAddress = ChosenAddressLookup(source, parts.options);
    parts.abandonAddressCheck = [source] { source->Abandon(); };
}

QString AddressSourceText(const TGeneralOptions &options)
{
    const std::optional<TAddressSourceKind> kind = ChosenAddressSource(options);
    QString detail;
    if (kind == TAddressSourceKind::Interface)
        detail = options.cmbAddressInterface->currentText();
    else if (kind == TAddressSourceKind::Web)
        detail = options.edtAddressURL->text();
    else if (kind == TAddressSourceKind::Command)
        detail = options.edtAddressCommand->text();
    QString text = QStringLiteral("Address from: ") + options.cmbAddressSource->currentText();
    if (!detail.trimmed().isEmpty())
        text += QStringLiteral(" (%1)").arg(detail.trimmed());
    if (options.cmbAddressFamily->currentText() == AddressFamilyName(TAddressFamily::IPv6))
        text += QStringLiteral(", IPv6");
    return text;
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
