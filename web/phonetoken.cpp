#include "phonetoken.h"

#include <QRandomGenerator>

#include <array>

QByteArray PhoneToken::generate()
{
    std::array<quint32, 8> bits;
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    return QByteArray(reinterpret_cast<const char *>(bits.data()), int(sizeof bits))
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool PhoneToken::constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    // Only the length may show: a token's length is no secret.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype index = 0; index < a.size(); ++index)
        difference |= static_cast<unsigned char>(a[index] ^ b[index]);
    return difference == 0;
}
