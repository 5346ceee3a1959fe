#ifndef PHONETOKEN_H
#define PHONETOKEN_H

#include <QByteArray>

// The secret a phone must show with every request: 256 bits from the system's random source,
// as 43 characters of URL-safe base64 without padding.
namespace PhoneToken {
QByteArray generate();
// Takes as long whatever the first differing byte, so that the time of a refusal does not
// tell how much of a guess was right.
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);
} // namespace PhoneToken

#endif // PHONETOKEN_H
