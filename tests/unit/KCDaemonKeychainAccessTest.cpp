#include "KCDaemonKeychainAccess.h"
#include "KCFakeKeychain.h"
#include "KCLogCapture.h"
#include "KCMemoryDefaultsStore.h"

#include <gtest/gtest.h>

namespace {

const QString Service = KCDaemonKeychainService;

class KCDaemonKeychainAccessTest : public ::testing::Test {
protected:
    void addItem(const QString &account, const QString &password, const QString &service = KCDaemonKeychainService)
    {
        keychain.items.append({service, account, password});
    }
    void setList(const QVariant &list) { store.setObject(list, KCDaemonKeychainAccountListKey); }
    QVariant list() const { return store.objectForKey(KCDaemonKeychainAccountListKey); }
    std::optional<QString> passwordInKeychain(const QString &account) const
    {
        for (const auto &item : keychain.items) {
            if (item.service == Service && item.account == account)
                return item.password;
        }
        return std::nullopt;
    }

    KCFakeKeychain keychain;
    KCMemoryDefaultsStore store;
    KCLogCapture log;
};

} // namespace

TEST_F(KCDaemonKeychainAccessTest, AccountListPutsKeychainNamesFirstAndNamesEachOnce)
{
    const struct {
        const char *name;
        QStringList keychainAccounts;
        QVariant storeList;
        KCKeychainStatus openStatus;
        QStringList expected;
    } cases[] = {
        {"keychain and store", {QStringLiteral("alice"), QStringLiteral("bob")}, QVariantList{QStringLiteral("carol")}, 0,
         {QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol")}},
        {"named in both", {QStringLiteral("alice")}, QVariantList{QStringLiteral("alice"), QStringLiteral("bob")}, 0,
         {QStringLiteral("alice"), QStringLiteral("bob")}},
        {"repeated in the store", {}, QVariantList{QStringLiteral("bob"), QStringLiteral("bob")}, 0, {QStringLiteral("bob")}},
        {"names differ by case", {QStringLiteral("Alice")}, QVariantList{QStringLiteral("alice")}, 0,
         {QStringLiteral("Alice"), QStringLiteral("alice")}},
        {"store list of the wrong kind", {QStringLiteral("alice")}, QStringLiteral("bob"), 0, {QStringLiteral("alice")}},
        {"store list with other kinds inside", {}, QVariantList{5, QStringLiteral("bob"), QVariantMap()}, 0, {QStringLiteral("bob")}},
        {"nothing anywhere", {}, QVariant(), 0, {}},
        {"keychain cannot be opened", {QStringLiteral("alice")}, QVariantList{QStringLiteral("bob")},
         KCKeychainStatusCode::InvalidKeychain, {QStringLiteral("bob")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        keychain = KCFakeKeychain();
        store.removeObject(KCDaemonKeychainAccountListKey);
        log.clear();
        for (const QString &account : c.keychainAccounts)
            addItem(account, QStringLiteral("secret"));
        addItem(QStringLiteral("stranger"), QStringLiteral("secret"), QStringLiteral("other.service"));
        if (c.storeList.isValid())
            setList(c.storeList);
        keychain.openStatus = c.openStatus;

        EXPECT_EQ(KCDaemonKeychainAccessCopyAccountList(keychain, store), c.expected);
        EXPECT_EQ(log.contains(QStringLiteral("Unable to open system keychain : The specified keychain is not a valid keychain file. (-25295)")),
                  c.openStatus != 0);
    }
}

TEST_F(KCDaemonKeychainAccessTest, AddingRecordsTheNameWhateverTheKeychainSays)
{
    EXPECT_TRUE(KCDaemonKeychainAccessAddAccount(keychain, store, QStringLiteral("alice"), QStringLiteral("pw1")));
    EXPECT_EQ(passwordInKeychain(QStringLiteral("alice")), QStringLiteral("pw1"));
    EXPECT_EQ(list(), QVariant(QVariantList{QStringLiteral("alice")}));

    // An item that exists already counts as added and keeps its password.
    EXPECT_TRUE(KCDaemonKeychainAccessAddAccount(keychain, store, QStringLiteral("alice"), QStringLiteral("pw2")));
    EXPECT_EQ(passwordInKeychain(QStringLiteral("alice")), QStringLiteral("pw1"));
    EXPECT_EQ(list(), QVariant(QVariantList{QStringLiteral("alice")}));
    EXPECT_TRUE(log.lines().isEmpty());

    keychain.writeStatus = KCKeychainStatusCode::IOError;
    EXPECT_FALSE(KCDaemonKeychainAccessAddAccount(keychain, store, QStringLiteral("bob"), QStringLiteral("pw3")));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to add to system keychain : I/O error. (-36)")));
    EXPECT_EQ(list(), QVariant(QVariantList{QStringLiteral("alice"), QStringLiteral("bob")}));

    keychain.openStatus = KCKeychainStatusCode::NotAvailable;
    EXPECT_FALSE(KCDaemonKeychainAccessAddAccount(keychain, store, QStringLiteral("carol"), QStringLiteral("pw4")));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to open system keychain : No keychain is available. (-25291)")));
    EXPECT_EQ(list(), QVariant(QVariantList{QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol")}));

    // A store value of another kind is replaced by a proper list.
    keychain = KCFakeKeychain();
    setList(QStringLiteral("garbage"));
    EXPECT_TRUE(KCDaemonKeychainAccessAddAccount(keychain, store, QStringLiteral("dave"), QStringLiteral("pw5")));
    EXPECT_EQ(list(), QVariant(QVariantList{QStringLiteral("dave")}));
}

TEST_F(KCDaemonKeychainAccessTest, RemovingDropsTheNameEvenWhenTheKeychainHasNoItem)
{
    const struct {
        const char *name;
        bool hasItem;
        KCKeychainStatus openStatus;
        KCKeychainStatus writeStatus;
        bool result;
        const char *logLine;
    } cases[] = {
        {"item found and deleted", true, 0, 0, true, nullptr},
        {"no item", false, 0, 0, false, "Cannot find user : The specified item could not be found in the keychain. (-25300)"},
        {"item cannot be deleted", true, 0, KCKeychainStatusCode::IOError, false, "Cannot delete user : I/O error. (-36)"},
        {"keychain cannot be opened", true, KCKeychainStatusCode::InvalidKeychain, 0, false,
         "Unable to open system keychain : The specified keychain is not a valid keychain file. (-25295)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        keychain = KCFakeKeychain();
        log.clear();
        if (c.hasItem)
            addItem(QStringLiteral("alice"), QStringLiteral("pw"));
        addItem(QStringLiteral("bob"), QStringLiteral("pw"));
        setList(QVariantList{QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("alice")});
        keychain.openStatus = c.openStatus;
        keychain.writeStatus = c.writeStatus;

        EXPECT_EQ(KCDaemonKeychainAccessRemoveAccount(keychain, store, QStringLiteral("alice")), c.result);
        EXPECT_EQ(list(), QVariant(QVariantList{QStringLiteral("bob")}));
        EXPECT_EQ(passwordInKeychain(QStringLiteral("alice")).has_value(), c.hasItem && !c.result);
        EXPECT_TRUE(passwordInKeychain(QStringLiteral("bob")).has_value());
        if (c.logLine) {
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.logLine))) << log.lines().join(QLatin1Char('\n')).toStdString();
        } else {
            EXPECT_TRUE(log.lines().isEmpty());
        }
    }

    // Without a list in the store, removing does not make one.
    store.removeObject(KCDaemonKeychainAccountListKey);
    KCDaemonKeychainAccessRemoveAccount(keychain, store, QStringLiteral("bob"));
    EXPECT_FALSE(store.storedValues().contains(KCDaemonKeychainAccountListKey));
}

TEST_F(KCDaemonKeychainAccessTest, CopyPasswordTellsAMissingItemFromAClosedKeychain)
{
    addItem(QStringLiteral("alice"), QStringLiteral("correct horse"));
    KCKeychainStatus status = 1;
    EXPECT_EQ(KCDaemonKeychainAccessCopyPassword(keychain, QStringLiteral("alice"), &status), QStringLiteral("correct horse"));
    EXPECT_EQ(status, 0);

    EXPECT_EQ(KCDaemonKeychainAccessCopyPassword(keychain, QStringLiteral("Alice"), &status), std::nullopt);
    EXPECT_EQ(status, KCKeychainStatusCode::ItemNotFound);
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot find user Alice : The specified item could not be found in the keychain. (-25300)")));

    keychain.openStatus = KCKeychainStatusCode::InvalidKeychain;
    EXPECT_EQ(KCDaemonKeychainAccessCopyPassword(keychain, QStringLiteral("alice"), &status), std::nullopt);
    EXPECT_EQ(status, KCKeychainStatusCode::InvalidKeychain);
}

TEST_F(KCDaemonKeychainAccessTest, LogLinesNeverHoldPasswordsOrReinterpretAccountNames)
{
    const QString password = QStringLiteral("s3cr3t-%1-pass");
    const QString account = QStringLiteral("user%1%3");
    keychain.writeStatus = KCKeychainStatusCode::IOError;
    KCDaemonKeychainAccessAddAccount(keychain, store, account, password);
    keychain.writeStatus = 0;
    KCDaemonKeychainAccessAddAccount(keychain, store, account, password);
    KCDaemonKeychainAccessCopyPassword(keychain, QStringLiteral("nobody%1"));
    keychain.writeStatus = KCKeychainStatusCode::IOError;
    KCDaemonKeychainAccessRemoveAccount(keychain, store, account);
    keychain.openStatus = KCKeychainStatusCode::InvalidKeychain;
    KCDaemonKeychainAccessCopyPassword(keychain, account);

    EXPECT_FALSE(log.lines().isEmpty());
    EXPECT_EQ(log.count(password), 0);
    EXPECT_EQ(log.count(QStringLiteral("s3cr3t")), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot find user nobody%1 : The specified item could not be found in the keychain. (-25300)")));
}
