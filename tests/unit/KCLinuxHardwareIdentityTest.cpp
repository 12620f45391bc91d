#include "KCLinuxHardwareIdentity.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void put(const QString &root, const char *relativePath, const QByteArray &content)
{
    const QString path = QDir(root).filePath(QString::fromLatin1(relativePath));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const char ProductUUID[] = "sys/class/dmi/id/product_uuid";
const char ProductSerial[] = "sys/class/dmi/id/product_serial";
const char ProcDeviceTreeSerial[] = "proc/device-tree/serial-number";
const char SysDeviceTreeSerial[] = "sys/firmware/devicetree/base/serial-number";

} // namespace

TEST(KCLinuxHardwareIdentity, TakesTheFirstMeaningfulSourceInOrder)
{
    const struct {
        const char *name;
        std::vector<std::pair<const char *, QByteArray>> files;
        std::optional<QString> uuid;
        std::optional<QString> serial;
    } cases[] = {
        {"nothing at all", {}, std::nullopt, std::nullopt},
        {"PC with both",
         {{ProductUUID, "4c4c4544-0042-3510-8052-b4c04f4e4d32\n"}, {ProductSerial, "  5R2NNM2 \n"}},
         QStringLiteral("4c4c4544-0042-3510-8052-b4c04f4e4d32"), QStringLiteral("5R2NNM2")},
        {"DMI serial wins over the device tree",
         {{ProductSerial, "ABC\n"}, {ProcDeviceTreeSerial, QByteArray("10000000deadbeef\0", 17)}},
         std::nullopt, QStringLiteral("ABC")},
        {"board with a device tree only",
         {{ProcDeviceTreeSerial, QByteArray("10000000deadbeef\0", 17)}}, std::nullopt, QStringLiteral("10000000deadbeef")},
        {"device tree through sysfs",
         {{SysDeviceTreeSerial, QByteArray("00000000c0ffee01\0", 17)}}, std::nullopt, QStringLiteral("00000000c0ffee01")},
        {"placeholders are skipped for the next source",
         {{ProductUUID, "00000000-0000-0000-0000-000000000000\n"}, {ProductSerial, "To be filled by O.E.M.\n"},
          {ProcDeviceTreeSerial, QByteArray("0\0", 2)}, {SysDeviceTreeSerial, QByteArray("REAL-1\0", 7)}},
         std::nullopt, QStringLiteral("REAL-1")},
        {"more placeholders",
         {{ProductUUID, "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"}, {ProductSerial, "Not Specified"}, {ProcDeviceTreeSerial, "None"},
          {SysDeviceTreeSerial, "  \n"}},
         std::nullopt, std::nullopt},
        {"empty files", {{ProductUUID, ""}, {ProductSerial, "\n"}}, std::nullopt, std::nullopt},
        {"oversized value", {{ProductUUID, QByteArray(4096, 'a')}}, std::nullopt, std::nullopt},
        {"control characters", {{ProductSerial, "AB\x01" "CD"}}, std::nullopt, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        for (const auto &[path, content] : c.files)
            put(root.path(), path, content);
        const KCLinuxHardwareIdentity identity(root.path());
        EXPECT_EQ(identity.systemUUID(), c.uuid);
        EXPECT_EQ(identity.serialNumber(), c.serial);
    }
}
