#ifndef SESSIONPHONEFEED_H
#define SESSIONPHONEFEED_H

#include "phonefeed.h"

#include <functional>

class CaptureSession;

// The phone view's feed from the capture session: its census and time code, and the levels of
// the universes the pages follow, and the session's event log. The session counts its listeners, so that the network view
// closing does not end the phone view's listening, nor the other way round.
class SessionPhoneFeed : public PhoneFeed
{
public:
    // sessionNeeded makes the session's engines when they are not made yet (the window's
    // start with its identity).
    SessionPhoneFeed(CaptureSession *session, std::function<void()> sessionNeeded);
    ~SessionPhoneFeed() override;

    void setListening(bool listening) override;
    PhoneCensus census() const override;
    void setFollowed(const QList<UniverseKey> &universes) override;
    bool readLevels(UniverseKey universe, uchar *levels, quint16 *length) override;
    QList<PhoneEvent> newEvents(int atMost) override;

private:
    CaptureSession *m_session;
    std::function<void()> m_sessionNeeded;
    bool m_listening = false;
    quint64 m_eventSerial = 0; // the last event handed out
};

#endif // SESSIONPHONEFEED_H
