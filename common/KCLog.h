#pragma once

#include <QLoggingCategory>

// The daemon's system log. Under systemd, standard error is the journal and each line carries
// its priority as a "<N>" prefix; elsewhere the lines are written plain.
Q_DECLARE_LOGGING_CATEGORY(lcKC)

namespace KCLog {
// Routes Qt's messages to standard error in the journal's format. Call once, early in main().
void installSystemLogHandler();

// True when standard error is connected to the journal (systemd's JOURNAL_STREAM names it).
bool stderrIsJournal();
} // namespace KCLog
