#include "benchmarkrun.h"
#include "privatenetwork.h"

#include <QString>

#include <algorithm>
#include <unistd.h>

namespace BenchmarkRun {

int begin(const char *program, FILE **figures)
{
    QString why;
    if (!PrivateNetwork::isInsideWithPeer(&why)) {
        std::fprintf(stderr, "%s: refusing to run: %s\n", program, qPrintable(why));
        return 2;
    }
    *figures = fdopen(dup(STDOUT_FILENO), "w");
    if (!*figures || !std::freopen("/dev/null", "w", stdout))
        return 1;
    std::setvbuf(*figures, nullptr, _IOLBF, 0);
    return 0;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace BenchmarkRun
