#ifndef ARTNETDIAGNOSTICS_H
#define ARTNETDIAGNOSTICS_H

#include <QString>

// The engine's diagnostic texts on standard output: 8-bit text, no line end added.
namespace ArtNetDiagnostics {

void writeOut(const char *text);
void writeOut(const QString &text);
// Writes the text only while the flag is set, and clears it.
void writeOnce(bool &flag, const char *text);

} // namespace ArtNetDiagnostics

#endif // ARTNETDIAGNOSTICS_H
