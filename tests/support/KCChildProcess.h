#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <sys/types.h>

// A user other than the one running the tests, for showing what the daemon and the bus refuse.
struct KCTestUser {
    uid_t uid = 0;
    gid_t gid = 0;
    QString name;

    // The account of that name in the user database; nullopt when there is none.
    static std::optional<KCTestUser> named(const QString &name);
};

// A program a test starts: it dies with the test process (also when the test crashes), its
// standard output is collected line by line, and it is killed when this object goes away.
class KCChildProcess {
public:
    KCChildProcess();
    ~KCChildProcess();
    KCChildProcess(const KCChildProcess &) = delete;
    KCChildProcess &operator=(const KCChildProcess &) = delete;

    // Starts the program with the given environment; under the user's ids (no supplementary
    // groups) when one is given, which needs root. False when it could not be started.
    bool start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
               const std::optional<KCTestUser> &user = std::nullopt);

    // Runs the event loop until the program printed a line containing the text, and returns
    // that line; nullopt when it exited or the deadline passed first. Lines already printed
    // count; each line is returned once, in order.
    std::optional<QString> waitForLine(const QString &text, std::chrono::milliseconds deadline = std::chrono::seconds(30));
    // Every line printed so far.
    QStringList lines() const;
    QString standardError() const;

    // Runs the event loop until the program exited; false at the deadline.
    bool waitForExit(std::chrono::milliseconds deadline = std::chrono::seconds(30));
    void kill();
    bool isRunning() const;
    int exitCode() const;
    qint64 processId() const;

private:
    void readOutput();

    QProcess m_process;
    QByteArray m_partialLine;
    QStringList m_lines;
    qsizetype m_nextUnreturnedLine = 0;
    QByteArray m_standardError;
};
