#pragma once

#include "KCCommandRunner.h"

// Commands run with QProcess, standard error discarded, output capped.
class KCProcessCommandRunner final : public KCCommandRunner {
public:
    Result run(const QString &program, const QStringList &arguments, std::chrono::milliseconds timeout) const override;
};
