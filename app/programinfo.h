#ifndef PROGRAMINFO_H
#define PROGRAMINFO_H

#include "capturesession.h"

#include <QString>

// Who the program is, as its settings, its Help and About boxes and its poll replies say it.
namespace ProgramInfo {

QString name();
QString settingsOrganisation();
// What this program says about itself in its poll replies.
CaptureSession::Identity nodeIdentity();
// The rich texts of the Help and About boxes.
QString helpText();
QString aboutText();

} // namespace ProgramInfo

#endif // PROGRAMINFO_H
