// bench_recordingfile: how long reading a recording file takes at the limits, in ms (median of
// 3), with the loader's trace on as by default (standard error goes wherever it goes).
// Opens no socket, so it runs anywhere:  build-perf/bench/bench_recordingfile 2>/dev/null
#include "recordingfile.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray frame()
{
    return " <frame version=\"1\" type=\"artnet\" universe=\"1\" dmx=\"0x" + QByteArray(1024, 'a')
            + "\"/>\n";
}

QByteArray document(const QByteArray &body)
{
    return "<!DOCTYPE Vardolux>\n<VardoluxData>\n" + body + "</VardoluxData>\n";
}

QByteArray filled(const QByteArray &unit, qint64 size)
{
    return unit.repeated(std::max<qint64>(1, (size - 60) / unit.size()));
}

void measure(const char *name, const QByteArray &input)
{
    std::vector<double> times;
    RecordingFile::Content content;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        content = RecordingFile::read(input);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s %10lld bytes %8.1f ms  %s\n", name, (long long)input.size(), times[1],
                content.wellFormed ? qPrintable(QStringLiteral("%1 frames").arg(content.frames.size()))
                                   : qPrintable(content.errorMessage));
}

} // namespace

int main()
{
    const qint64 limit = RecordingFile::MaxFileSize;
    measure("one recording", document(frame()));
    measure("4 MiB of whole frames", document(filled(frame(), limit)));
    measure("4 MiB of short frames", document(filled(
            " <frame version=\"1\" type=\"artnet\" dmx=\"0x01\"/>\n", limit)));
    measure("4 MiB of empty elements", document(filled("<a/>", limit)));
    measure("4 MiB of chains 256 deep",
            document(filled(QByteArray("<a>").repeated(255) + QByteArray("</a>").repeated(255),
                            limit)));
    measure("4 MiB in one dmx text", document(" <frame version=\"1\" type=\"artnet\" dmx=\"0x"
                                              + QByteArray(limit - 120, 'f') + "\"/>\n"));
    measure("4 MiB, 32 attributes per element",
            document(filled("<b" + QByteArray(" a=\"\"").repeated(28)
                                    + " c=\"\" d=\"\" e=\"\" f=\"\"/>", limit)));
    measure("50 MB of frames", document(filled(frame(), 50'000'000)));
    measure("25000 attributes", document("<b" + QByteArray(" a=\"\"").repeated(25000) + "/>"));
    measure("600000 attributes (4 MiB)",
            document("<b" + QByteArray(" a=\"\"").repeated(600000) + "/>"));
    return 0;
}
