#pragma once

#include <QString>

#include <cstdio>

// The fakes report what happens to them on standard output, one line per event, so a test can
// wait for the event instead of polling.
inline void kcFakePrintLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
