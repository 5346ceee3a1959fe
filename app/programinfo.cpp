#include "programinfo.h"

#include "vardoluxversion.h"

#include <QCoreApplication>

namespace {

constexpr QLatin1String ProgramName("Vardolux");
constexpr QLatin1String WebHost("www.vardolux.example");
constexpr QLatin1String MailAddress("info@vardolux.example");
constexpr QLatin1String SettingsOrganisation("vardolux.example");
constexpr QLatin1String BuildDate("Sep 11 2011");
constexpr quint8 OemHi = 0x00;
constexpr quint8 OemLo = 0xFF;

QString websiteLink()
{
    return QStringLiteral("<a href=\"http://") + WebHost
            + QStringLiteral("/software/download/?Software=Vardolux&CurrentVersion=%1.%2.0.0\">")
                      .arg(VersionMajor)
                      .arg(VersionMinor)
            + WebHost + QStringLiteral("</a>");
}

QString mailLink()
{
    return QStringLiteral("<a href=\"mailto:") + MailAddress + QStringLiteral("\">") + MailAddress
            + QStringLiteral("</a>");
}

} // namespace

namespace ProgramInfo {

QString name()
{
    return ProgramName;
}

QString settingsOrganisation()
{
    return SettingsOrganisation;
}

CaptureSession::Identity nodeIdentity()
{
    CaptureSession::Identity identity;
    identity.versionHi = quint8(VersionMajor);
    identity.versionLo = quint8(VersionMinor);
    identity.oemHi = OemHi;
    identity.oemLo = OemLo;
    identity.shortName = ProgramName;
    identity.longName =
            QStringLiteral("%1 V%2.%3 by ").arg(ProgramName).arg(VersionMajor).arg(VersionMinor)
            + WebHost;
    return identity;
}

QString helpText()
{
    return QCoreApplication::translate("Vardolux",
                                       "<b>Help</b><br>Please use online help on website<br>%1")
            .arg(websiteLink());
}

QString aboutText()
{
    return QCoreApplication::translate(
                   "Vardolux",
                   "<center><b>Vardolux</b><br>Version %1.%2<br>Date %3<br>Written by Tesk "
                   "Haldor<br>%4<br>%5</center>Vardolux is a simple software for find and check "
                   "dmx data in your art-net network.")
            .arg(VersionMajor)
            .arg(VersionMinor)
            .arg(BuildDate, mailLink(), websiteLink());
}

} // namespace ProgramInfo
