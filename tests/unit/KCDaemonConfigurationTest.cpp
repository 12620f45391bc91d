#include "KCBuildInfo.h"
#include "KCDaemonConfiguration.h"
#include "KCTestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(KCDaemonConfiguration, MissingFileOrKeysMeanTheInstalledDefaults)
{
    QTemporaryDir dir;
    QString error;
    QStringList warnings;
    const auto missing = KCDaemonConfiguration::load(QDir(dir.path()).filePath(QStringLiteral("absent.conf")), false, &error, &warnings);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->baseURL(), QUrl(QStringLiteral("https://accounts.kovra.invalid/app/6.0")));
    EXPECT_EQ(missing->stateDirectory(), KCDefaultStateDirectory);
    EXPECT_TRUE(missing->caFile().isEmpty());

    EXPECT_FALSE(KCDaemonConfiguration::load(QDir(dir.path()).filePath(QStringLiteral("absent.conf")), true, &error, &warnings));
    EXPECT_TRUE(error.contains(QStringLiteral("no such file"))) << error.toStdString();
}

TEST(KCDaemonConfiguration, ReadsEachValueOrSaysWhatIsWrongWithIt)
{
    QTemporaryDir dir;
    const QString caFile = QDir(dir.path()).filePath(QStringLiteral("ca.pem"));
    ASSERT_TRUE(KCTestFiles::writeAll(caFile, "-----BEGIN CERTIFICATE-----\n"));
    const struct {
        const char *name;
        QByteArray content;
        const char *error; // none: valid
        const char *baseURL;
        const char *stateDirectory;
    } cases[] = {
        {"everything given", "[Service]\nBaseURL=http://127.0.0.1:8080/app/6.0\nCAFile=" + caFile.toUtf8() + "\n[Daemon]\nStateDirectory=/tmp/kc/state/\n",
         nullptr, "http://127.0.0.1:8080/app/6.0", "/tmp/kc/state"},
        {"prefix before the service path", "[Service]\nBaseURL=https://example.org/kovra/app/6.0\n", nullptr, "https://example.org/kovra/app/6.0",
         "/var/lib/com.fendrel.kovra.connect"},
        {"empty CA file means none", "[Service]\nCAFile=\n", nullptr, "https://accounts.kovra.invalid/app/6.0", "/var/lib/com.fendrel.kovra.connect"},
        {"other scheme", "[Service]\nBaseURL=ftp://example.org/app/6.0\n", "[Service] BaseURL \"ftp://example.org/app/6.0\" is not an http or https URL", nullptr, nullptr},
        {"wrong path", "[Service]\nBaseURL=https://example.org/app/5.0\n", "whose path ends in /app/6.0", nullptr, nullptr},
        {"trailing slash", "[Service]\nBaseURL=https://example.org/app/6.0/\n", "whose path ends in /app/6.0", nullptr, nullptr},
        {"no host", "[Service]\nBaseURL=https:///app/6.0\n", "is not an http or https URL", nullptr, nullptr},
        {"credentials in the URL", "[Service]\nBaseURL=https://user:pw@example.org/app/6.0\n", "is not an http or https URL", nullptr, nullptr},
        {"query", "[Service]\nBaseURL=https://example.org/app/6.0?x=1\n", "is not an http or https URL", nullptr, nullptr},
        {"not a URL", "[Service]\nBaseURL=not a url\n", "is not an http or https URL", nullptr, nullptr},
        {"two values", "[Service]\nBaseURL=https://a.example/app/6.0, https://b.example/app/6.0\n", "[Service] BaseURL must be a single value", nullptr, nullptr},
        {"missing CA file", "[Service]\nCAFile=/nonexistent/ca.pem\n", "[Service] CAFile \"/nonexistent/ca.pem\" is not the absolute path of a readable file", nullptr, nullptr},
        {"CA file is a folder", "[Service]\nCAFile=" + dir.path().toUtf8() + "\n", "is not the absolute path of a readable file", nullptr, nullptr},
        {"relative CA file", "[Service]\nCAFile=ca.pem\n", "is not the absolute path of a readable file", nullptr, nullptr},
        {"relative state folder", "[Daemon]\nStateDirectory=state\n", "[Daemon] StateDirectory \"state\" is not an absolute path", nullptr, nullptr},
        {"empty state folder", "[Daemon]\nStateDirectory=\n", "[Daemon] StateDirectory \"\" is not an absolute path", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QDir(dir.path()).filePath(QStringLiteral("daemon.conf"));
        ASSERT_TRUE(KCTestFiles::writeAll(path, c.content));
        QString error;
        QStringList warnings;
        const auto configuration = KCDaemonConfiguration::load(path, true, &error, &warnings);
        if (c.error) {
            ASSERT_FALSE(configuration);
            EXPECT_TRUE(error.startsWith(QStringLiteral("Configuration file %1: ").arg(path))) << error.toStdString();
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
        } else {
            ASSERT_TRUE(configuration) << error.toStdString();
            EXPECT_EQ(configuration->baseURL().toString(), QString::fromUtf8(c.baseURL));
            EXPECT_EQ(configuration->stateDirectory(), QString::fromUtf8(c.stateDirectory));
        }
        EXPECT_TRUE(warnings.isEmpty());
    }
}

TEST(KCDaemonConfiguration, UnknownKeysAreNamedButDoNotStopTheDaemon)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("daemon.conf"));
    ASSERT_TRUE(KCTestFiles::writeAll(path, "[Service]\nBaseUrl=https://typo.example/app/6.0\n"));
    QString error;
    QStringList warnings;
    ASSERT_TRUE(KCDaemonConfiguration::load(path, true, &error, &warnings));
    EXPECT_EQ(warnings, QStringList{QStringLiteral("Configuration file %1: unknown setting [Service] BaseUrl ignored").arg(path)});
}
