#include "KCDaemonUPNPIGDDescriptionParser.h"

#include <QXmlStreamReader>

namespace {

std::optional<QString> keyForElement(QStringView name)
{
    for (const QLatin1String captured : {QLatin1String("manufacturer"), QLatin1String("modelName"),
             QLatin1String("modelNumber")}) {
        if (name == captured)
            return QString(captured);
    }
    return std::nullopt;
}

// Entity declarations can only come from an internal subset; refusing the subset refuses them
// all (and notations, and parameter entities) before any reference can be expanded.
bool hasInternalSubset(const QXmlStreamReader &reader)
{
    return reader.text().contains(QLatin1Char('[')) || !reader.entityDeclarations().isEmpty()
        || !reader.notationDeclarations().isEmpty();
}

} // namespace

bool KCDaemonUPNPIGDDescriptionParser::parse(QByteArrayView document)
{
    if (document.isEmpty() || document.size() > kMaximumDocumentSize)
        return false;
    QXmlStreamReader reader(document.toByteArray());
    reader.setNamespaceProcessing(false);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            if (hasInternalSubset(reader))
                return false;
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > kMaximumDepth)
                return false;
            parser(reader, reader.qualifiedName(), QStringView(), reader.qualifiedName(), reader.attributes());
            break;
        case QXmlStreamReader::Characters:
            parser(reader, reader.text());
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            parser(reader, reader.qualifiedName(), QStringView(), reader.qualifiedName());
            break;
        default:
            break;
        }
    }
    return !reader.hasError();
}

QVariantMap KCDaemonUPNPIGDDescriptionParser::routerInformation() const
{
    return _routerInformation;
}

void KCDaemonUPNPIGDDescriptionParser::parser(QXmlStreamReader &, QStringView didStartElement, QStringView,
    QStringView, const QXmlStreamAttributes &)
{
    // Any other element leaves a capture in progress running: its text joins the value.
    if (std::optional<QString> key = keyForElement(didStartElement)) {
        _currentKey = std::move(key);
        _currentValue = QString();
    }
}

void KCDaemonUPNPIGDDescriptionParser::parser(QXmlStreamReader &, QStringView foundCharacters)
{
    if (_currentValue)
        _currentValue->append(foundCharacters);
}

void KCDaemonUPNPIGDDescriptionParser::parser(QXmlStreamReader &, QStringView, QStringView, QStringView)
{
    // The end of any element closes the capture.
    if (_currentKey) {
        const QString value = _currentValue ? _currentValue->trimmed() : QString();
        if (!value.isEmpty())
            _routerInformation.insert(*_currentKey, value);
    }
    _currentKey.reset();
    _currentValue.reset();
}
