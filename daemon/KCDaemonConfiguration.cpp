#include "KCDaemonConfiguration.h"

#include "KCBuildInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString BaseURLKey = QStringLiteral("Service/BaseURL");
const QString CAFileKey = QStringLiteral("Service/CAFile");
const QString StateDirectoryKey = QStringLiteral("Daemon/StateDirectory");
const QString ServicePathSuffix = QStringLiteral("/app/6.0");

QString describe(const QString &key)
{
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    return QStringLiteral("[%1] %2").arg(key.left(slash), key.mid(slash + 1));
}

// QSettings reads "a,b" as a list; every value here is one piece of text.
std::optional<QString> textValue(const QSettings &settings, const QString &key, QString *error)
{
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString) {
        *error = QStringLiteral("%1 must be a single value").arg(describe(key));
        return std::nullopt;
    }
    return value.toString().trimmed();
}

std::optional<QUrl> parseBaseURL(const QString &text, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const bool valid = url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
        && !url.host().isEmpty() && url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment()
        && url.path().endsWith(ServicePathSuffix);
    if (!valid) {
        *error = QStringLiteral("%1 \"%2\" is not an http or https URL whose path ends in %3")
                     .arg(describe(BaseURLKey), text, ServicePathSuffix);
        return std::nullopt;
    }
    return url;
}

} // namespace

KCDaemonConfiguration::KCDaemonConfiguration()
    : m_baseURL(KCDefaultBaseURL)
    , m_stateDirectory(KCDefaultStateDirectory)
{
}

std::optional<KCDaemonConfiguration> KCDaemonConfiguration::load(const QString &path, bool mustExist, QString *error,
                                                                 QStringList *warnings)
{
    KCDaemonConfiguration configuration;
    auto fail = [&](const QString &why) -> std::optional<KCDaemonConfiguration> {
        *error = QStringLiteral("Configuration file %1: %2").arg(path, why);
        return std::nullopt;
    };
    if (!QFileInfo::exists(path)) {
        if (mustExist)
            return fail(QStringLiteral("no such file"));
        return configuration;
    }
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        return fail(probe.errorString());
    probe.close();

    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return fail(QStringLiteral("not a valid INI file"));
    for (const QString &key : settings.allKeys()) {
        if (key != BaseURLKey && key != CAFileKey && key != StateDirectoryKey)
            warnings->append(QStringLiteral("Configuration file %1: unknown setting %2 ignored").arg(path, describe(key)));
    }

    QString why;
    if (settings.contains(BaseURLKey)) {
        const auto text = textValue(settings, BaseURLKey, &why);
        const auto url = text ? parseBaseURL(*text, &why) : std::nullopt;
        if (!url)
            return fail(why);
        configuration.m_baseURL = *url;
    }
    if (settings.contains(CAFileKey)) {
        const auto text = textValue(settings, CAFileKey, &why);
        if (!text)
            return fail(why);
        if (!text->isEmpty()) {
            QFile caFile(*text);
            if (!QDir::isAbsolutePath(*text) || !QFileInfo(*text).isFile() || !caFile.open(QIODevice::ReadOnly))
                return fail(QStringLiteral("%1 \"%2\" is not the absolute path of a readable file").arg(describe(CAFileKey), *text));
            configuration.m_caFile = *text;
        }
    }
    if (settings.contains(StateDirectoryKey)) {
        const auto text = textValue(settings, StateDirectoryKey, &why);
        if (!text)
            return fail(why);
        if (!QDir::isAbsolutePath(*text))
            return fail(QStringLiteral("%1 \"%2\" is not an absolute path").arg(describe(StateDirectoryKey), *text));
        configuration.m_stateDirectory = QDir::cleanPath(*text);
    }
    return configuration;
}
