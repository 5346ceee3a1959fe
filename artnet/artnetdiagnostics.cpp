#include "artnetdiagnostics.h"

#include <cstdio>
#include <cstring>

namespace ArtNetDiagnostics {

void writeOut(const char *text)
{
    std::fwrite(text, 1, std::strlen(text), stdout);
}

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void writeOnce(bool &flag, const char *text)
{
    if (!flag)
        return;
    flag = false;
    writeOut(text);
}

} // namespace ArtNetDiagnostics
