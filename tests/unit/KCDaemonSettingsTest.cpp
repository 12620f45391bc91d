#include "KCDaemonSettings.h"
#include "KCDaemonVocabulary.h"
#include "KCFakeHardwareIdentity.h"
#include "KCMemoryDefaultsStore.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace Key = KCDaemonSettingsStoreKey;

namespace {

const QString HardwareUUID = QStringLiteral("4c4c4544-0042-3510-8052-b4c04f4e4d32");

// Remembers the order of writes, for the save order that existing stores expect.
class RecordingStore final : public KCDefaultsStore {
public:
    void registerDefaults(const QVariantMap &defaults) override { inner.registerDefaults(defaults); }
    QVariant objectForKey(const QString &key) const override { return inner.objectForKey(key); }
    bool setObject(const QVariant &value, const QString &key) override
    {
        written.append(key);
        return inner.setObject(value, key);
    }
    bool removeObject(const QString &key) override { return inner.removeObject(key); }

    KCMemoryDefaultsStore inner;
    QStringList written;
};

QVariant integer(qint64 value)
{
    return QVariant::fromValue(value);
}

} // namespace

TEST(KCDaemonSettings, EmptyStoreLoadsEveryDefaultAndTheHardwareIdentifier)
{
    KCMemoryDefaultsStore store;
    const KCFakeHardwareIdentity hardware(HardwareUUID, QStringLiteral("SERIAL"));
    const KCDaemonSettings settings(store, hardware);

    const QVariantMap expected{
        {KCDaemonSettingsUseSSH, false},
        {KCDaemonSettingsPreventSleep, false},
        {KCDaemonSettingsManualMode, integer(2)},
        {KCDaemonSettingsCustomAddress, QString()},
        {KCDaemonSettingsCustomPort, integer(0)},
        {KCDaemonSettingsKCServiceLastLocalPorts, QVariantMap()},
        {KCDaemonSettingsLastKeyboardLocale, QString()},
        {KCDaemonSettingsHotKeys, QString()},
        {KCDaemonSettingsLocalVncPort, integer(5900)},
        {KCDaemonSettingsLocalSshPort, integer(22)},
        {KCDaemonSettingsVersionInfo, QStringLiteral("N/A")},
        {KCDaemonSettingsRouterInfo, QStringLiteral("N/A")},
        {KCDaemonSettingsUUID, KCDaemonSettings::md5(HardwareUUID)},
    };
    const QVariantMap all = settings.allSettings();
    EXPECT_EQ(all, expected);
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(all.value(it.key()).typeId(), it.value().typeId()) << it.key().toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(settings.UUID()).hasMatch());

    // Loading writes back the identifier and the last local ports, nothing else.
    EXPECT_EQ(store.storedValues().keys(), (QStringList{Key::KCServiceLastLocalPorts, Key::UUID}));
}

TEST(KCDaemonSettings, StoredValuesOfTheWrongKindOrOutOfRangeFallBackSilently)
{
    const struct {
        const char *name;
        QVariantMap stored;
        QVariantMap expected; // settings-dictionary entries to check
    } cases[] = {
        {"manual mode without a port maps the VNC port", {{Key::ManualMode, 1}, {Key::CustomPort, 0}}, {{KCDaemonSettingsCustomPort, integer(5900)}}},
        {"manual mode without a port maps the SSH port",
         {{Key::ManualMode, 1}, {Key::CustomPort, 0}, {Key::UseSSH, true}},
         {{KCDaemonSettingsCustomPort, integer(22)}}},
        {"manual mode with an invalid port maps the standard one", {{Key::ManualMode, 1}, {Key::CustomPort, 70000}}, {{KCDaemonSettingsCustomPort, integer(5900)}}},
        {"automatic mode keeps port 0", {{Key::ManualMode, 2}, {Key::CustomPort, 0}}, {{KCDaemonSettingsCustomPort, integer(0)}}},
        {"mode 3", {{Key::ManualMode, 3}}, {{KCDaemonSettingsManualMode, integer(2)}}},
        {"mode 0", {{Key::ManualMode, 0}}, {{KCDaemonSettingsManualMode, integer(2)}}},
        {"mode as text", {{Key::ManualMode, QStringLiteral("1")}}, {{KCDaemonSettingsManualMode, integer(2)}}},
        {"mode as a real", {{Key::ManualMode, 1.0}}, {{KCDaemonSettingsManualMode, integer(1)}, {KCDaemonSettingsCustomPort, integer(5900)}}},
        {"vncPort 0", {{Key::VncPort, 0}}, {{KCDaemonSettingsLocalVncPort, integer(5900)}}},
        {"vncPort 70000", {{Key::VncPort, 70000}}, {{KCDaemonSettingsLocalVncPort, integer(5900)}}},
        {"vncPort as text", {{Key::VncPort, QStringLiteral("5901")}}, {{KCDaemonSettingsLocalVncPort, integer(5900)}}},
        {"vncPort valid", {{Key::VncPort, 5901}}, {{KCDaemonSettingsLocalVncPort, integer(5901)}}},
        {"sshPort negative", {{Key::SshPort, -22}}, {{KCDaemonSettingsLocalSshPort, integer(22)}}},
        {"sshPort highest", {{Key::SshPort, 65535}}, {{KCDaemonSettingsLocalSshPort, integer(65535)}}},
        {"sshPort as a list", {{Key::SshPort, QVariantList{2222}}}, {{KCDaemonSettingsLocalSshPort, integer(22)}}},
        {"custom port -1", {{Key::CustomPort, -1}}, {{KCDaemonSettingsCustomPort, integer(0)}}},
        {"custom port 65536", {{Key::CustomPort, 65536}}, {{KCDaemonSettingsCustomPort, integer(0)}}},
        {"custom port 65535", {{Key::CustomPort, 65535}}, {{KCDaemonSettingsCustomPort, integer(65535)}}},
        {"custom port huge real", {{Key::CustomPort, 1e300}}, {{KCDaemonSettingsCustomPort, integer(0)}}},
        {"UseSSH as text", {{Key::UseSSH, QStringLiteral("yes")}}, {{KCDaemonSettingsUseSSH, false}}},
        {"UseSSH as a number", {{Key::UseSSH, 1}}, {{KCDaemonSettingsUseSSH, true}}},
        {"PreventSleep true", {{Key::PreventSleep, true}}, {{KCDaemonSettingsPreventSleep, true}}},
        {"RouterInfo as a number", {{Key::RouterInfo, 5}}, {{KCDaemonSettingsRouterInfo, QStringLiteral("N/A")}}},
        {"VersionInfo kept", {{Key::VersionInfo, QStringLiteral("3.9.0 (39000)")}}, {{KCDaemonSettingsVersionInfo, QStringLiteral("3.9.0 (39000)")}}},
        {"CustomAddress as a list", {{Key::CustomAddress, QVariantList{}}}, {{KCDaemonSettingsCustomAddress, QString()}}},
        {"CustomAddress kept", {{Key::CustomAddress, QStringLiteral("203.0.113.7")}}, {{KCDaemonSettingsCustomAddress, QStringLiteral("203.0.113.7")}}},
        {"last local ports as a list", {{Key::KCServiceLastLocalPorts, QVariantList{1}}}, {{KCDaemonSettingsKCServiceLastLocalPorts, QVariantMap()}}},
        {"last local ports kept",
         {{Key::KCServiceLastLocalPorts, QVariantMap{{QStringLiteral("vnc"), 5900}}}},
         {{KCDaemonSettingsKCServiceLastLocalPorts, QVariantMap{{QStringLiteral("vnc"), integer(5900)}}}}},
        {"hot keys and locale kept",
         {{Key::HotKeys, QStringLiteral("F1")}, {Key::LastKeyboardLocale, QStringLiteral("de_CH")}},
         {{KCDaemonSettingsHotKeys, QStringLiteral("F1")}, {KCDaemonSettingsLastKeyboardLocale, QStringLiteral("de_CH")}}},
    };
    const KCFakeHardwareIdentity hardware(HardwareUUID);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KCMemoryDefaultsStore store;
        for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
            store.setObject(it.value(), it.key());
        const QVariantMap all = KCDaemonSettings(store, hardware).allSettings();
        for (auto it = c.expected.begin(); it != c.expected.end(); ++it) {
            EXPECT_EQ(all.value(it.key()), it.value()) << it.key().toStdString();
            EXPECT_EQ(all.value(it.key()).typeId(), it.value().typeId()) << it.key().toStdString();
        }
    }
}

TEST(KCDaemonSettings, StoredIdentifierIsKeptTrimmedOrReplacedByTheDerivedOne)
{
    const QString derived = KCDaemonSettings::md5(HardwareUUID);
    const struct {
        const char *name;
        QVariant stored;
        QString expected;
    } cases[] = {
        {"mixed case with white space", QStringLiteral("  abcdefABCDEF0123456789abcdef0123\n"), QStringLiteral("abcdefABCDEF0123456789abcdef0123")},
        {"31 characters", QStringLiteral("ABCDEF0123456789ABCDEF012345678"), derived},
        {"33 characters", QStringLiteral("ABCDEF0123456789ABCDEF01234567890"), derived},
        {"not hexadecimal", QStringLiteral("GBCDEF0123456789ABCDEF0123456789"), derived},
        {"a canonical UUID with dashes", QStringLiteral("4C4C4544-0042-3510-8052-B4C04F4E"), derived},
        {"a number", QVariant::fromValue(qint64(12345)), derived},
        {"absent", QVariant(), derived},
    };
    const KCFakeHardwareIdentity hardware(HardwareUUID);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KCMemoryDefaultsStore store;
        if (c.stored.isValid())
            store.setObject(c.stored, Key::UUID);
        const KCDaemonSettings settings(store, hardware);
        EXPECT_EQ(settings.UUID(), c.expected);
        EXPECT_EQ(store.storedValues().value(Key::UUID), QVariant(c.expected));
    }
}

TEST(KCDaemonSettings, IdentifierComesFromTheHardwareElseFromOneKeptRandomValue)
{
    const QString validStored = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
    const struct {
        const char *name;
        std::optional<QString> uuid;
        std::optional<QString> serial;
        QVariant storedUniqueIdentifier;
        std::optional<QString> expected; // none: a fresh random identifier, then kept
    } cases[] = {
        {"hardware UUID", HardwareUUID, QStringLiteral("SERIAL"), QVariant(), KCDaemonSettings::md5(HardwareUUID)},
        {"serial number when there is no UUID", std::nullopt, QStringLiteral("SERIAL"), QVariant(), KCDaemonSettings::md5(QStringLiteral("SERIAL"))},
        {"empty UUID counts as none", QString(), QStringLiteral("SERIAL"), QVariant(), KCDaemonSettings::md5(QStringLiteral("SERIAL"))},
        {"kept identifier, trimmed", std::nullopt, std::nullopt, QString(QStringLiteral(" ") + validStored + QStringLiteral("\t")), validStored},
        {"nothing at all", std::nullopt, std::nullopt, QVariant(), std::nullopt},
        {"kept identifier that is not valid", std::nullopt, std::nullopt, QStringLiteral("short"), std::nullopt},
        {"kept identifier of the wrong kind", std::nullopt, std::nullopt, QVariantList{validStored}, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KCMemoryDefaultsStore store;
        if (c.storedUniqueIdentifier.isValid())
            store.setObject(c.storedUniqueIdentifier, Key::UniqueIdentifier);
        const KCFakeHardwareIdentity hardware(c.uuid, c.serial);
        const QString first = KCDaemonSettings(store, hardware).UUID();
        ASSERT_TRUE(KCDaemonSettings::isValidUniqueIdentifier(first));
        if (c.expected) {
            EXPECT_EQ(first, *c.expected);
        } else {
            EXPECT_EQ(store.storedValues().value(Key::UniqueIdentifier), QVariant(first));
        }

        // The settings are lost: the same machine still has the same identifier.
        store.removeObject(Key::UUID);
        EXPECT_EQ(KCDaemonSettings(store, hardware).UUID(), first);
    }
}

TEST(KCDaemonSettings, SettersChangeMemoryUntilSaveWritesTwelveKeysInOrder)
{
    RecordingStore store;
    const KCFakeHardwareIdentity hardware(HardwareUUID);
    KCDaemonSettings settings(store, hardware);
    store.written.clear();

    settings.setVncPort(5901);
    settings.setUseSSH(true);
    settings.setRouterInfo(QStringLiteral("Acme,R1,"));
    EXPECT_TRUE(store.written.isEmpty());
    EXPECT_EQ(settings.allSettings().value(KCDaemonSettingsLocalVncPort), integer(5901));

    settings.save();
    EXPECT_EQ(store.written, (QStringList{Key::UseSSH, Key::PreventSleep, Key::ManualMode, Key::CustomAddress, Key::CustomPort,
                                          Key::LastKeyboardLocale, Key::HotKeys, Key::UUID, Key::RouterInfo, Key::VncPort,
                                          Key::SshPort, Key::VersionInfo}));
    EXPECT_EQ(store.objectForKey(Key::VncPort), integer(5901));
    EXPECT_EQ(store.objectForKey(Key::UseSSH), QVariant(true));

    // The identifier and the last local ports are written by their setters at once.
    store.written.clear();
    settings.setUUID(QStringLiteral("not an identifier"));
    EXPECT_EQ(settings.UUID(), KCDaemonSettings::md5(HardwareUUID));
    settings.setKcServiceLastLocalPorts({{QStringLiteral("ssh"), 22}});
    EXPECT_EQ(store.written, (QStringList{Key::UUID, Key::KCServiceLastLocalPorts}));
    EXPECT_EQ(store.objectForKey(Key::KCServiceLastLocalPorts), QVariant(QVariantMap{{QStringLiteral("ssh"), integer(22)}}));
}

TEST(KCDaemonSettings, ClassChecksAcceptExactlyWhatTheyShould)
{
    EXPECT_TRUE(KCDaemonSettings::isValidPortMappingMode(1));
    EXPECT_TRUE(KCDaemonSettings::isValidPortMappingMode(2.0));
    EXPECT_FALSE(KCDaemonSettings::isValidPortMappingMode(3));
    EXPECT_FALSE(KCDaemonSettings::isValidPortMappingMode(QStringLiteral("2")));

    const struct {
        QVariant port;
        bool allowZero;
        bool valid;
    } ports[] = {
        {0, true, true},     {0, false, false},    {1, false, true},   {65535, false, true},
        {65536, true, false}, {-1, true, false},   {QStringLiteral("80"), true, false}, {QVariant(), true, false},
    };
    for (const auto &p : ports)
        EXPECT_EQ(KCDaemonSettings::isValidPort(p.port, p.allowZero), p.valid) << p.port.toString().toStdString() << " " << p.allowZero;

    EXPECT_TRUE(KCDaemonSettings::isValidUniqueIdentifier(QStringLiteral("\n 0123456789abcdefABCDEF0123456789 ")));
    EXPECT_FALSE(KCDaemonSettings::isValidUniqueIdentifier(QStringLiteral("0123456789abcdefABCDEF012345678 9")));
    EXPECT_FALSE(KCDaemonSettings::isValidUniqueIdentifier(QVariant::fromValue(qint64(1))));

    EXPECT_EQ(KCDaemonSettings::md5(QStringLiteral("abc")), QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_TRUE(KCDaemonSettings::md5(QString()).isEmpty());
    const QString random = KCDaemonSettings::newRandomUniqueIdentifier();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(random).hasMatch()) << random.toStdString();
    EXPECT_NE(random, KCDaemonSettings::newRandomUniqueIdentifier());
    EXPECT_EQ(KCDaemonSettings::defaultUserDefaults().size(), 12);
    EXPECT_FALSE(KCDaemonSettings::defaultUserDefaults().contains(Key::UUID));
}
