#include "KCFileKeychain.h"

#include "KCAtomicFile.h"
#include "KCLog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace {

const QString FileName = QStringLiteral("system-keychain.json");
const QString VersionKey = QStringLiteral("version");
const QString ItemsKey = QStringLiteral("items");
const QString ClassKey = QStringLiteral("class");
const QString ServiceKey = QStringLiteral("service");
const QString AccountKey = QStringLiteral("account");
const QString PasswordKey = QStringLiteral("password");
const QString GenericPasswordClass = QStringLiteral("genp");
constexpr int FormatVersion = 1;

} // namespace

KCFileKeychain::KCFileKeychain(const QString &directory)
    : m_path(QDir(directory).filePath(FileName))
{
}

KCKeychainStatus KCFileKeychain::open()
{
    if (m_state == State::Open)
        return KCKeychainStatusCode::Success;
    return load();
}

KCKeychainStatus KCFileKeychain::load()
{
    struct stat st {};
    FileIdentity identity;
    if (::lstat(QFile::encodeName(m_path).constData(), &st) == 0)
        identity = {st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    // Still the file already found damaged: say so again without logging and copying again.
    if (m_state == State::Damaged && identity == m_damagedIdentity)
        return KCKeychainStatusCode::InvalidKeychain;

    KCAtomicFile::removeStaleTemporaries(m_path);
    QByteArray data;
    QString error;
    switch (KCAtomicFile::read(m_path, MaxFileSize, &data, &error)) {
    case KCAtomicFile::ReadStatus::Missing:
        m_items.clear();
        m_state = State::Open;
        return KCKeychainStatusCode::Success;
    case KCAtomicFile::ReadStatus::TooLarge:
        return setDamaged(identity, QStringLiteral("larger than %1 bytes").arg(MaxFileSize), nullptr);
    case KCAtomicFile::ReadStatus::Failed:
        if (error != m_lastReadError)
            qCCritical(lcKC).noquote() << QStringLiteral("Cannot read the credential file: %1").arg(error);
        m_lastReadError = error;
        m_state = State::Closed;
        return KCKeychainStatusCode::NotAvailable;
    case KCAtomicFile::ReadStatus::Ok:
        break;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return setDamaged(identity, QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset), &data);
    if (!document.isObject() || document.object().value(VersionKey).toInteger(-1) != FormatVersion
        || !document.object().value(ItemsKey).isArray())
        return setDamaged(identity, QStringLiteral("not a credential file of a known version"), &data);

    QList<Item> items;
    const QJsonArray array = document.object().value(ItemsKey).toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject object = array.at(i).toObject();
        const bool wellFormed = array.at(i).isObject() && object.size() == 4
            && object.value(ClassKey).toString() == GenericPasswordClass && object.value(ServiceKey).isString()
            && object.value(AccountKey).isString() && object.value(PasswordKey).isString();
        if (!wellFormed)
            return setDamaged(identity, QStringLiteral("item %1 is not a generic password").arg(i), &data);
        Item item{object.value(ServiceKey).toString(), object.value(AccountKey).toString(), object.value(PasswordKey).toString()};
        for (const Item &earlier : std::as_const(items)) {
            // Two passwords for one account: there is no telling which one is right.
            if (earlier.service == item.service && earlier.account == item.account)
                return setDamaged(identity, QStringLiteral("item %1 repeats an account").arg(i), &data);
        }
        items.append(item);
    }
    m_items = items;
    m_state = State::Open;
    m_lastReadError.clear();
    return KCKeychainStatusCode::Success;
}

KCKeychainStatus KCFileKeychain::setDamaged(const FileIdentity &identity, const QString &reason, const QByteArray *content)
{
    m_items.clear();
    m_state = State::Damaged;
    m_damagedIdentity = identity;
    QString kept = QStringLiteral("it is too large to copy");
    if (content) {
        QString error;
        const QString copy = keepCopy(*content, &error);
        kept = copy.isEmpty() ? QStringLiteral("no copy could be kept (%1)").arg(error) : QStringLiteral("a copy is kept as %1").arg(copy);
    }
    qCCritical(lcKC).noquote() << QStringLiteral("Credential file %1 is damaged (%2); %3. Accounts cannot be read or changed until the file is repaired, replaced or removed.")
                                      .arg(m_path, reason, kept);
    return KCKeychainStatusCode::InvalidKeychain;
}

QString KCFileKeychain::keepCopy(const QByteArray &content, QString *error) const
{
    const QFileInfo info(m_path);
    const QDir directory = info.absoluteDir();
    // The same damaged file seen again after a restart needs no second copy.
    const QStringList copies = directory.entryList({info.fileName() + QStringLiteral(".damaged-*")}, QDir::Files);
    for (const QString &name : copies) {
        QByteArray existing;
        QString ignored;
        if (KCAtomicFile::read(directory.filePath(name), MaxFileSize, &existing, &ignored) == KCAtomicFile::ReadStatus::Ok && existing == content)
            return directory.filePath(name);
    }
    const QString base = KCAtomicFile::damagedName(m_path);
    QString target = base;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = QStringLiteral("%1-%2").arg(base).arg(n);
    if (!KCAtomicFile::write(target, content, error))
        return {};
    return target;
}

KCKeychainStatus KCFileKeychain::persist()
{
    m_unsaved = true;
    QJsonArray items;
    for (const Item &item : std::as_const(m_items))
        items.append(QJsonObject{{ClassKey, GenericPasswordClass}, {ServiceKey, item.service}, {AccountKey, item.account}, {PasswordKey, item.password}});
    const QJsonObject top{{VersionKey, FormatVersion}, {ItemsKey, items}};
    QString error;
    if (!KCAtomicFile::ensurePrivateDirectory(QFileInfo(m_path).absolutePath(), &error)
        || !KCAtomicFile::write(m_path, QJsonDocument(top).toJson(QJsonDocument::Indented), &error)) {
        qCCritical(lcKC).noquote() << QStringLiteral("Cannot save the credential file: %1; the change is kept in memory").arg(error);
        return KCKeychainStatusCode::IOError;
    }
    m_unsaved = false;
    return KCKeychainStatusCode::Success;
}

qsizetype KCFileKeychain::indexOf(const QString &service, const QString &account) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i).service == service && m_items.at(i).account == account)
            return i;
    }
    return -1;
}

KCKeychainStatus KCFileKeychain::copyAccounts(const QString &service, QStringList *accounts)
{
    accounts->clear();
    if (const KCKeychainStatus status = open())
        return status;
    for (const Item &item : std::as_const(m_items)) {
        if (item.service == service)
            accounts->append(item.account);
    }
    return KCKeychainStatusCode::Success;
}

KCKeychainStatus KCFileKeychain::addGenericPassword(const QString &service, const QString &account, const QString &password)
{
    if (const KCKeychainStatus status = open())
        return status;
    if (indexOf(service, account) >= 0) {
        // An item that exists only in memory is not really there yet: try to save it again.
        if (m_unsaved)
            if (const KCKeychainStatus status = persist())
                return status;
        return KCKeychainStatusCode::DuplicateItem;
    }
    m_items.append(Item{service, account, password});
    return persist();
}

KCKeychainStatus KCFileKeychain::findGenericPassword(const QString &service, const QString &account, QString *password)
{
    if (const KCKeychainStatus status = open())
        return status;
    const qsizetype index = indexOf(service, account);
    if (index < 0)
        return KCKeychainStatusCode::ItemNotFound;
    if (password)
        *password = m_items.at(index).password;
    return KCKeychainStatusCode::Success;
}

KCKeychainStatus KCFileKeychain::deleteGenericPassword(const QString &service, const QString &account)
{
    if (const KCKeychainStatus status = open())
        return status;
    const qsizetype index = indexOf(service, account);
    if (index < 0)
        return KCKeychainStatusCode::ItemNotFound;
    m_items.removeAt(index);
    return persist();
}
