#include "KCJsonDefaultsStore.h"

#include "KCAtomicFile.h"
#include "KCLog.h"
#include "KCTaggedJson.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString VersionKey = QStringLiteral("version");
const QString ValuesKey = QStringLiteral("values");
constexpr int FormatVersion = 1;

bool isPlainFileName(const QString &domain)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    return plain.match(domain).hasMatch();
}

} // namespace

KCJsonDefaultsStore::KCJsonDefaultsStore(const QString &directory, const QString &domain)
    : m_path(QDir(directory).filePath(domain + QStringLiteral(".json")))
{
    if (!isPlainFileName(domain)) {
        qCCritical(lcKC).noquote() << QStringLiteral("Settings domain \"%1\" is not a plain file name; settings are kept in memory only").arg(domain);
        m_writable = false;
        return;
    }
    load();
}

void KCJsonDefaultsStore::load()
{
    KCAtomicFile::removeStaleTemporaries(m_path);
    QByteArray data;
    QString error;
    switch (KCAtomicFile::read(m_path, MaxFileSize, &data, &error)) {
    case KCAtomicFile::ReadStatus::Missing:
        return;
    case KCAtomicFile::ReadStatus::TooLarge:
        setDamaged(QStringLiteral("larger than %1 bytes").arg(MaxFileSize));
        return;
    case KCAtomicFile::ReadStatus::Failed:
        // Writing now would replace a file nobody could read: keep changes in memory instead.
        qCWarning(lcKC).noquote() << QStringLiteral("Cannot read settings: %1; changes are kept in memory only").arg(error);
        m_writable = false;
        return;
    case KCAtomicFile::ReadStatus::Ok:
        break;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        setDamaged(QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset));
        return;
    }
    if (!document.isObject()) {
        setDamaged(QStringLiteral("not a JSON object"));
        return;
    }
    const QJsonObject top = document.object();
    if (top.value(VersionKey).toInteger(-1) != FormatVersion) {
        setDamaged(QStringLiteral("unknown format version"));
        return;
    }
    if (!top.value(ValuesKey).isObject()) {
        setDamaged(QStringLiteral("no values"));
        return;
    }
    const QJsonObject values = top.value(ValuesKey).toObject();
    QVariantMap loaded;
    for (auto it = values.begin(); it != values.end(); ++it) {
        const auto value = KCTaggedJson::decode(it.value(), &error);
        if (!value) {
            setDamaged(QStringLiteral("bad value under \"%1\": %2").arg(it.key(), error));
            return;
        }
        loaded.insert(it.key(), *value);
    }
    m_values = loaded;
}

void KCJsonDefaultsStore::setDamaged(const QString &reason)
{
    QString error;
    const QString movedTo = KCAtomicFile::moveAside(m_path, &error);
    if (movedTo.isEmpty()) {
        qCCritical(lcKC).noquote() << QStringLiteral("Settings file %1 is damaged (%2) and cannot be moved aside (%3); changes are kept in memory only")
                                          .arg(m_path, reason, error);
        m_writable = false;
        return;
    }
    qCWarning(lcKC).noquote() << QStringLiteral("Settings file %1 is damaged (%2); kept it as %3 and starting from the defaults")
                                     .arg(m_path, reason, movedTo);
}

void KCJsonDefaultsStore::registerDefaults(const QVariantMap &defaults)
{
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_defaults.insert(it.key(), KCValue::normalized(it.value()));
}

QVariant KCJsonDefaultsStore::objectForKey(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it != m_values.constEnd())
        return it.value();
    return m_defaults.value(key);
}

bool KCJsonDefaultsStore::setObject(const QVariant &value, const QString &key)
{
    if (!value.isValid())
        return removeObject(key);
    const auto encoded = KCTaggedJson::encode(value);
    if (!encoded) {
        qCWarning(lcKC).noquote() << QStringLiteral("Not storing \"%1\": a %2 is not a settings value").arg(key, QString::fromLatin1(value.typeName()));
        return false;
    }
    const auto existing = m_values.constFind(key);
    // Saving the same value again changes nothing on disk; skip the write and its flushes.
    if (existing != m_values.constEnd() && !m_unsaved && KCTaggedJson::encode(existing.value()) == encoded)
        return true;
    m_values.insert(key, KCValue::normalized(value));
    return persist();
}

bool KCJsonDefaultsStore::removeObject(const QString &key)
{
    if (!m_values.contains(key) && !m_unsaved)
        return true;
    m_values.remove(key);
    return persist();
}

bool KCJsonDefaultsStore::persist()
{
    m_unsaved = true;
    if (!m_writable)
        return false;
    QJsonObject values;
    for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it)
        values.insert(it.key(), *KCTaggedJson::encode(it.value()));
    const QJsonObject top{{VersionKey, FormatVersion}, {ValuesKey, values}};
    QString error;
    if (!KCAtomicFile::ensurePrivateDirectory(QFileInfo(m_path).absolutePath(), &error)
        || !KCAtomicFile::write(m_path, QJsonDocument(top).toJson(QJsonDocument::Indented), &error)) {
        qCWarning(lcKC).noquote() << QStringLiteral("Cannot save settings: %1; the change is kept in memory").arg(error);
        return false;
    }
    m_unsaved = false;
    return true;
}
