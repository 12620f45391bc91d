#include "KCHTTPUtils.h"

#include "KCCharacterSet.h"
#include "KCHTTPTransfer.h"
#include "KCLog.h"
#include "KCURLError.h"

#include <QCoreApplication>
#include <algorithm>
#include <QFile>
#include <QJsonDocument>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStringList>
#include <QThread>

namespace {

const QString kUUIDKey = QStringLiteral("UUID");
const QString kBundleIDKey = QStringLiteral("bundleID");
// The two fields that carry an account password: never logged, never trimmed.
const QStringList kSecretKeys = {QStringLiteral("password"), QStringLiteral("fb_uha")};
const QString kRedacted = QStringLiteral("<redacted>");

// File error codes of the "NSCocoaErrorDomain" domain, as clients know them.
constexpr qint64 kFileReadNoPermissionError = 257;
constexpr qint64 kFileReadCorruptFileError = 259;
constexpr qint64 kFileReadNoSuchFileError = 260;

struct Configuration {
    QMutex mutex;
    QString baseURL;
    // The system's authorities plus the configured ones; empty when only the system's are trusted.
    QList<QSslCertificate> trustedAuthorities;
};
Q_GLOBAL_STATIC(Configuration, g_configuration)

// The one manager, living on the main thread; replies are handled there too.
QNetworkAccessManager *mainThreadManager(bool create)
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager && create)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return manager;
}

bool isMainThread()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

bool isList(const QVariant &value)
{
    const int type = value.metaType().id();
    return type == QMetaType::QVariantList || type == QMetaType::QStringList;
}

// Sub-entries of a dictionary value in that dictionary's own order; nothing for other values.
std::optional<QList<KCRequestParameters::Entry>> dictionaryEntries(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<KCRequestParameters>()) {
        const auto parameters = value.value<KCRequestParameters>();
        return QList<KCRequestParameters::Entry>(parameters.begin(), parameters.end());
    }
    if (value.metaType().id() == QMetaType::QVariantMap) {
        QList<KCRequestParameters::Entry> entries;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            entries.append({it.key(), it.value()});
        return entries;
    }
    return std::nullopt;
}

// The plain textual form of a value: strings as they are, numbers in decimal, booleans as 1 or 0.
// A list or dictionary nested where a plain value belongs goes out as compact JSON rather than
// being dropped.
QString textualForm(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (isList(value) || value.metaType().id() == QMetaType::QVariantMap)
        return QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
    if (const auto entries = dictionaryEntries(value)) {
        QVariantMap map;
        for (const auto &[key, subValue] : *entries)
            map.insert(key, subValue);
        return textualForm(map);
    }
    return value.toString();
}

QString plusEscaped(QString text)
{
    return text.replace(QLatin1Char('+'), QLatin1String("%2b"));
}

QString trimmedString(const QVariant &value)
{
    return value.toString().trimmed();
}

QList<KCRequestParameters::Entry> trimmedEntries(const QList<KCRequestParameters::Entry> &entries)
{
    QList<KCRequestParameters::Entry> trimmed;
    for (const auto &[key, value] : entries) {
        const QString trimmedKey = key.trimmed();
        if (!kSecretKeys.contains(trimmedKey))
            trimmed.append({trimmedKey, KCHTTPUtils::trimmedRequestParameter(value)});
    }
    return trimmed;
}

std::optional<KCError> fileError(qint64 code, const QString &path, const QString &description)
{
    return KCError{KCJSONErrorDomain, code, {{KCErrorDescriptionKey, description}, {QStringLiteral("NSFilePath"), path}}};
}

} // namespace

void KCHTTPUtils::setAccountServiceBaseURL(const QString &baseURL)
{
    QMutexLocker lock(&g_configuration->mutex);
    g_configuration->baseURL = baseURL;
}

QString KCHTTPUtils::accountServiceBaseURL()
{
    QMutexLocker lock(&g_configuration->mutex);
    return g_configuration->baseURL;
}

std::optional<KCError> KCHTTPUtils::setAdditionalCertificateAuthorityFile(const QString &path)
{
    QList<QSslCertificate> trusted;
    if (!path.isEmpty()) {
        QFile file(path);
        if (!file.exists())
            return fileError(kFileReadNoSuchFileError, path, QStringLiteral("The certificate authority file does not exist."));
        if (!file.open(QIODevice::ReadOnly))
            return fileError(kFileReadNoPermissionError, path, QStringLiteral("The certificate authority file cannot be read."));
        const QByteArray data = file.readAll();
        QList<QSslCertificate> authorities = QSslCertificate::fromData(data, QSsl::Pem);
        if (authorities.isEmpty())
            authorities = QSslCertificate::fromData(data, QSsl::Der);
        authorities.removeIf([](const QSslCertificate &certificate) { return certificate.isNull(); });
        if (authorities.isEmpty())
            return fileError(kFileReadCorruptFileError, path, QStringLiteral("The certificate authority file holds no certificate."));
        // Naming any authority replaces the system's set in a TLS configuration, so it is kept.
        trusted = QSslConfiguration::systemCaCertificates() + authorities;
    }
    {
        QMutexLocker lock(&g_configuration->mutex);
        g_configuration->trustedAuthorities = trusted;
    }
    // A connection kept open from before must not carry on under the old trust.
    auto forgetConnections = [] {
        if (QNetworkAccessManager *manager = mainThreadManager(false))
            manager->clearConnectionCache();
    };
    if (isMainThread())
        forgetConnections();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), forgetConnections, Qt::QueuedConnection);
    return std::nullopt;
}

bool KCHTTPUtils::isValidKovraConnectUUID(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QString)
        return false;
    const QString trimmed = trimmedString(value);
    if (trimmed.size() != 32)
        return false;
    return std::all_of(trimmed.cbegin(), trimmed.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    });
}

bool KCHTTPUtils::isValidBundleIdentifier(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QString)
        return false;
    const QString trimmed = trimmedString(value);
    if (trimmed.isEmpty())
        return false;
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9][A-Za-z0-9-]*(\\.[A-Za-z0-9][A-Za-z0-9-]*)+")));
    return pattern.match(trimmed).hasMatch();
}

bool KCHTTPUtils::isValidServerIdentityInParameters(const KCRequestParameters &params)
{
    return isValidKovraConnectUUID(params.value(kUUIDKey)) && isValidBundleIdentifier(params.value(kBundleIDKey));
}

std::optional<KCHTTPRequest> KCHTTPUtils::createPostURLRequest(const QString &urlString, const KCRequestParameters &params)
{
    const QString baseURL = accountServiceBaseURL();
    if (!baseURL.isEmpty() && urlString.startsWith(baseURL) && !isValidServerIdentityInParameters(params)) {
        qCWarning(lcKC).noquote() << QStringLiteral("Not sending request to %1 because %2 or %3 is missing/invalid")
                                         .arg(urlString, kUUIDKey, kBundleIDKey);
        return std::nullopt;
    }

    KCHTTPRequest request;
    request.networkRequest.setUrl(QUrl(urlString, QUrl::StrictMode));
    request.networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.networkRequest.setTransferTimeout(KCHTTPDefaultTransferTimeoutMilliseconds);
    request.networkRequest.setRawHeader("Content-Type", "application/x-www-form-urlencoded");

    static const KCCharacterSet hostSet = KCCharacterSet::URLHostAllowedCharacterSet();
    static const KCCharacterSet parameterSet = KCCharacterSet::URLParameterAllowedCharacterSet();

    QStringList fields;
    QStringList loggedFields;
    auto addField = [&](const QString &key, const QString &name, const QString &encodedValue) {
        fields.append(name + QLatin1Char('=') + encodedValue);
        loggedFields.append(name + QLatin1Char('=') + (kSecretKeys.contains(key) ? kRedacted : encodedValue));
    };
    for (const auto &[key, value] : params) {
        const KCCharacterSet &set = key.endsWith(QLatin1String("_uha")) ? hostSet : parameterSet;
        if (isList(value)) {
            for (const QVariant &element : value.toList())
                addField(key, key + QLatin1String("[]"), set.percentEncode(plusEscaped(textualForm(element))));
        } else if (const auto entries = dictionaryEntries(value)) {
            for (const auto &[subKey, subValue] : *entries)
                addField(key, key + QLatin1Char('[') + plusEscaped(subKey) + QLatin1Char(']'),
                         set.percentEncode(textualForm(subValue)));
        } else {
            addField(key, key, set.percentEncode(plusEscaped(textualForm(value))));
        }
    }

    qCInfo(lcKC).noquote() << loggedFields.join(QLatin1Char('&'));
    request.body = fields.join(QLatin1Char('&')).toUtf8();
    return request;
}

void KCHTTPUtils::sendAsynchronousRequest(const std::optional<KCHTTPRequest> &request, KCHTTPCompletion onComplete)
{
    if (!onComplete)
        onComplete = [](const QVariant &, const std::optional<KCError> &) {};
    if (!isMainThread()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [request, onComplete = std::move(onComplete)] { sendAsynchronousRequest(request, onComplete); },
            Qt::QueuedConnection);
        return;
    }
    if (!request) {
        onComplete({}, KCURLError::make(KCURLErrorBadURL, {}));
        return;
    }
    const QUrl url = request->networkRequest.url();
    if (!url.isValid() || url.isEmpty()) {
        onComplete({}, KCURLError::make(KCURLErrorBadURL, url.toString()));
        return;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http")) {
        onComplete({}, KCURLError::make(KCURLErrorUnsupportedURL, url.toString()));
        return;
    }

    QList<QSslCertificate> trusted;
    {
        QMutexLocker lock(&g_configuration->mutex);
        trusted = g_configuration->trustedAuthorities;
    }
    KCHTTPTransfer::start(*mainThreadManager(true), *request, trusted, std::move(onComplete));
}

QString KCHTTPUtils::escapeCharacters(const QString &string)
{
    static const KCCharacterSet hostSet = KCCharacterSet::URLHostAllowedCharacterSet();
    return hostSet.percentEncode(string).replace(QLatin1Char('&'), QLatin1String("%26")).replace(QLatin1Char('+'), QLatin1String("%2b"));
}

QVariant KCHTTPUtils::trimmedRequestParameter(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return trimmedString(value);
    case QMetaType::QStringList: {
        QStringList trimmed;
        for (const QString &element : value.toStringList())
            trimmed.append(element.trimmed());
        return trimmed;
    }
    case QMetaType::QVariantList: {
        QVariantList trimmed;
        for (const QVariant &element : value.toList())
            trimmed.append(trimmedRequestParameter(element));
        return trimmed;
    }
    case QMetaType::QVariantMap: {
        QVariantMap trimmed;
        for (const auto &[key, subValue] : trimmedEntries(*dictionaryEntries(value)))
            trimmed.insert(key, subValue);
        return trimmed;
    }
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<KCRequestParameters>())
        return QVariant::fromValue(trimmedRequestParameters(value.value<KCRequestParameters>()));
    return value;
}

KCRequestParameters KCHTTPUtils::trimmedRequestParameters(const KCRequestParameters &params)
{
    KCRequestParameters trimmed;
    for (const auto &[key, value] : trimmedEntries(QList<KCRequestParameters::Entry>(params.begin(), params.end())))
        trimmed.insert(key, value);
    return trimmed;
}
