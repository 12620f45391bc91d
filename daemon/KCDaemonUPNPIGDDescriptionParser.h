#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVariantMap>
#include <optional>

class QXmlStreamAttributes;
class QXmlStreamReader;

// Pulls the router's maker and model out of its UPnP root description. The document comes from
// the network and is treated as hostile: its size and nesting depth are capped, and a document
// type with an internal subset (where entity declarations live) is refused outright, so no entity
// is ever declared, let alone expanded or fetched.
//
// Embedded devices carry their own maker and model; later values replace earlier ones, so the
// last device in document order that names them wins. A blank value replaces nothing.
class KCDaemonUPNPIGDDescriptionParser {
public:
    static constexpr qsizetype kMaximumDocumentSize = 256 * 1024;
    static constexpr int kMaximumDepth = 64;

    KCDaemonUPNPIGDDescriptionParser() = default;

    // Reads the whole document through the three callbacks below. False when the document is too
    // large, too deep, not well-formed (wrong encoding included) or declares entities; the caller
    // then ignores routerInformation().
    bool parse(QByteArrayView document);

    // "manufacturer", "modelName" and "modelNumber", each only when the document had a
    // non-blank value; all values are strings.
    QVariantMap routerInformation() const;

    // The reader's events. Element names are compared exactly as written (prefix included, case
    // sensitive), as a reader without namespace processing reports them.
    void parser(QXmlStreamReader &parser, QStringView didStartElement, QStringView namespaceURI,
        QStringView qualifiedName, const QXmlStreamAttributes &attributes);
    void parser(QXmlStreamReader &parser, QStringView foundCharacters);
    void parser(QXmlStreamReader &parser, QStringView didEndElement, QStringView namespaceURI, QStringView qualifiedName);

private:
    QVariantMap _routerInformation;
    std::optional<QString> _currentValue;
    std::optional<QString> _currentKey;
};
