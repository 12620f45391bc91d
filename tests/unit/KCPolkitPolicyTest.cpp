#include "KCDaemonCallerCheck.h"
#include "KCTestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

struct Defaults {
    QString any;
    QString inactive;
    QString active;
    friend bool operator==(const Defaults &, const Defaults &) = default;
};

QString policyFile()
{
    return QDir(KCTest::sourceDir()).filePath(QStringLiteral("packaging/com.fendrel.kovra.connect.policy"));
}

// The actions of a polkit policy file with their defaults; nullopt when it is not well-formed.
std::optional<std::map<QString, Defaults>> readActions(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QXmlStreamReader xml(&file);
    std::map<QString, Defaults> actions;
    QString current;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("action")) {
            current = xml.attributes().value(QLatin1String("id")).toString();
            actions[current];
        } else if (name == QLatin1String("allow_any")) {
            actions[current].any = xml.readElementText();
        } else if (name == QLatin1String("allow_inactive")) {
            actions[current].inactive = xml.readElementText();
        } else if (name == QLatin1String("allow_active")) {
            actions[current].active = xml.readElementText();
        }
    }
    if (xml.hasError())
        return std::nullopt;
    return actions;
}

TEST(KCPolkitPolicyTest, ThePolicyNamesExactlyTheActionsTheDaemonAsksFor)
{
    const auto actions = readActions(policyFile());
    ASSERT_TRUE(actions) << "not well-formed: " << policyFile().toStdString();

    const std::map<QString, Defaults> expected{
        {QStringLiteral("com.fendrel.kovra.connect.read-status"),
         {QStringLiteral("auth_admin_keep"), QStringLiteral("auth_admin_keep"), QStringLiteral("yes")}},
        {QStringLiteral("com.fendrel.kovra.connect.manage"),
         {QStringLiteral("auth_admin_keep"), QStringLiteral("auth_admin_keep"), QStringLiteral("yes")}},
        {QStringLiteral("com.fendrel.kovra.connect.uninstall"),
         {QStringLiteral("auth_admin"), QStringLiteral("auth_admin"), QStringLiteral("auth_admin")}},
    };
    for (const auto &[id, defaults] : expected) {
        SCOPED_TRACE(id.toStdString());
        const auto it = actions->find(id);
        ASSERT_NE(it, actions->end());
        EXPECT_EQ(it->second.any, defaults.any);
        EXPECT_EQ(it->second.inactive, defaults.inactive);
        EXPECT_EQ(it->second.active, defaults.active);
    }
    EXPECT_EQ(actions->size(), expected.size());

    // Every method of the daemon is guarded by one of them, and each of them guards a method.
    const QStringList methods{QStringLiteral("getSettings"), QStringLiteral("getVersion"),
                              QStringLiteral("addKovraConnectAccount"), QStringLiteral("removeKovraConnectAccount"),
                              QStringLiteral("queryPortMappingStatus"), QStringLiteral("userSettingsChanged"),
                              QStringLiteral("uninstall")};
    std::set<QString> used;
    for (const QString &method : methods) {
        SCOPED_TRACE(method.toStdString());
        const QString action = KCDaemonCallerCheck::actionForMethod(method);
        EXPECT_TRUE(actions->count(action)) << action.toStdString();
        used.insert(action);
    }
    EXPECT_EQ(used.size(), expected.size());
}

TEST(KCPolkitPolicyTest, ThePolicyIsValidAgainstPolkitsDocumentType)
{
    const QString dtd = QStringLiteral("/usr/share/polkit-1/policyconfig-1.dtd");
    if (!QFileInfo::exists(dtd))
        GTEST_SKIP() << "polkit's document type is not installed (package polkitd)";
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--dtdvalid"), dtd, policyFile()});
    ASSERT_TRUE(xmllint.waitForFinished(60000));
    EXPECT_EQ(xmllint.exitCode(), 0) << xmllint.readAllStandardError().toStdString();
}

} // namespace
