#ifndef FUZZINPUT_H
#define FUZZINPUT_H

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// Reads a fuzz input front to back. Past the end every read yields zeros (or an empty array),
// so a target never has to check the remaining size before it asks for a field.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size);

    bool atEnd() const { return m_position >= m_size; }
    size_t remaining() const { return m_size - m_position; }

    quint8 takeByte();
    quint16 takeUInt16(); // little-endian
    QByteArray takeBytes(size_t count); // at most what is left
    QByteArray takeRest();

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_position = 0;
};

#endif // FUZZINPUT_H
