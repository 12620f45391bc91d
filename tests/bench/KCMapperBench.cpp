// Figures for the record, not a test: how long a port mapper takes from tryMappingPort() to the
// delegate's result in the router lab, run after run, as the daemon builds it (one NAT-PMP/PCP
// client and one miniupnpc client shared by every mapper, the real clock). Each run uses a new
// mapper, closes it and waits, untimed, until the router holds no mapping before the next.
//
//   kc_mapper_bench [--runs N] [--goal-ms MS]      (inside the lab; see mapper-lab-bench)
//   KC_BENCH_EACH=1 also prints every run on standard error.

#include "KCDaemonRouterGateway.h"
#include "KCDaemonRouterPortMapperFactory.h"
#include "KCDNSServiceError.h"
#include "KCFakeHostnamed.h"
#include "KCLinuxDynamicStore.h"
#include "KCMemoryDefaultsStore.h"
#include "KCRouterLab.h"
#include "KCRtnetlinkRouteWatch.h"
#include "KCSystemInformationSources.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

class TimingDelegate final : public KCDaemonPortMapperDelegate {
public:
    void portMapping(KCDaemonPortMapper *, int32_t statusChanged, uint16_t, uint32_t, uint32_t, uint32_t) override
    {
        if (!code) {
            elapsedNs = clock.nsecsElapsed();
            code = statusChanged;
        }
    }

    QElapsedTimer clock;
    std::optional<int32_t> code;
    qint64 elapsedNs = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs to time."), QStringLiteral("N"),
        QStringLiteral("10"));
    const QCommandLineOption goalOption(QStringLiteral("goal-ms"), QStringLiteral("The goal, printed beside the figures."),
        QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOptions({runsOption, goalOption});
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const double goal = parser.value(goalOption).toDouble();

    const std::optional<KCRouterLab> lab = KCRouterLab::current();
    if (!lab) {
        std::fprintf(stderr, "kc_mapper_bench runs inside the router lab: tests/bench/mapper-lab-bench\n");
        return 2;
    }
    // The mapper's own log lines would only get in the way of the table.
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.info=false\nkovra.warning=false"));

    KCLinuxDynamicStore configuration(std::make_unique<KCFakeHostnamed>(), *KCSystemInformationSources::system().routing,
        std::make_unique<KCRtnetlinkRouteWatch>(), QStringLiteral("/etc"));
    KCMemoryDefaultsStore store;
    const auto factory = KCDaemonRouterPortMapperFactory::createSystemFactory(configuration, store);

    std::vector<double> milliseconds;
    for (int run = 1; run <= runs; ++run) {
        TimingDelegate delegate;
        std::unique_ptr<KCDaemonPortMapper> mapper = factory->createPortMapper(&delegate);
        delegate.clock.start();
        mapper->tryMappingPort(5900);
        if (!QTest::qWaitFor([&] { return delegate.code.has_value(); }, 60000) || *delegate.code != 0) {
            std::fprintf(stderr, "%s: run %d: %s\n", qPrintable(lab->profile()), run,
                delegate.code ? qPrintable(KCDNSServiceError::name(*delegate.code)) : "no result within 60 s");
            return 1;
        }
        milliseconds.push_back(double(delegate.elapsedNs) / 1e6);
        if (qEnvironmentVariableIsSet("KC_BENCH_EACH"))
            std::fprintf(stderr, "run %d: %.1f ms\n", run, milliseconds.back());
        const QString backend = mapper->portMappingBackendName();
        mapper->close();
        mapper.reset();
        if (!QTest::qWaitFor([&] { return lab->mappings() == QStringList(); }, 60000)) {
            std::fprintf(stderr, "%s: run %d: the router kept a mapping after close\n", qPrintable(lab->profile()), run);
            return 1;
        }
        if (run == runs)
            std::printf("%-16s %-11s %4d %10.1f %10.1f %10.0f\n", qPrintable(lab->profile()), qPrintable(backend), runs,
                median(milliseconds), *std::max_element(milliseconds.begin(), milliseconds.end()), goal);
    }
    return 0;
}
