#include "fuzzinput.h"

#include <algorithm>

FuzzInput::FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(data ? size : 0)
{
}

quint8 FuzzInput::takeByte()
{
    return atEnd() ? 0 : m_data[m_position++];
}

quint16 FuzzInput::takeUInt16()
{
    const quint16 low = takeByte();
    const quint16 high = takeByte();
    return quint16(low | (high << 8));
}

QByteArray FuzzInput::takeBytes(size_t count)
{
    const size_t taken = std::min(count, remaining());
    QByteArray bytes(reinterpret_cast<const char *>(m_data + m_position), qsizetype(taken));
    m_position += taken;
    return bytes;
}

QByteArray FuzzInput::takeRest()
{
    return takeBytes(remaining());
}
