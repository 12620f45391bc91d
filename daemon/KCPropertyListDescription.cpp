#include "KCPropertyListDescription.h"

#include <QStringList>

namespace {

QString quoted(const QString &text)
{
    QString result = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            result += QLatin1Char('\\') + c;
        else if (c == QLatin1Char('\n'))
            result += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            result += QLatin1String("\\t");
        else if (c.unicode() < 0x20)
            result += QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result + QLatin1Char('"');
}

QString entries(const QList<std::pair<QString, QVariant>> &pairs)
{
    QStringList parts;
    for (const auto &[key, value] : pairs)
        parts.append(quoted(key) + QLatin1String(": ") + KCPropertyListDescription::describe(value));
    return QLatin1Char('{') + parts.join(QLatin1String(", ")) + QLatin1Char('}');
}

} // namespace

QString KCPropertyListDescription::describe(const KCRequestParameters &parameters)
{
    return entries(QList<std::pair<QString, QVariant>>(parameters.begin(), parameters.end()));
}

QString KCPropertyListDescription::describe(const QVariant &value)
{
    if (!value.isValid() || value.metaType().id() == QMetaType::Nullptr)
        return QStringLiteral("null");
    if (value.metaType() == QMetaType::fromType<KCRequestParameters>())
        return describe(value.value<KCRequestParameters>());
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QString:
        return quoted(value.toString());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant &element : value.toList())
            parts.append(describe(element));
        return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QList<std::pair<QString, QVariant>> pairs;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            pairs.append({it.key(), it.value()});
        return entries(pairs);
    }
    default:
        return value.toString();
    }
}
