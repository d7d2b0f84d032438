#include "core/jobs/worker.h"

#include "core/base/raw_values.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <stdexcept>

namespace Worker {

namespace {

struct KindRow {
    Answer::Kind value;
    const char* raw;
};
constexpr EnumTable<KindRow, 7> kinds{{{
    {Answer::Kind::ready, "ready"},
    {Answer::Kind::progress, "progress"},
    {Answer::Kind::done, "done"},
    {Answer::Kind::failed, "failed"},
    {Answer::Kind::cancelled, "cancelled"},
    {Answer::Kind::notice, "notice"},
    {Answer::Kind::component, "component"},
}}};

constexpr auto streamVersion = QDataStream::Qt_6_0;
// Far above any request or answer: a longer frame means the stream is not ours.
constexpr quint32 longestFrame = 64 << 20;

}

QByteArray pack(const Answer& answer)
{
    QByteArray result;
    QDataStream out(&result, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    const auto& path = answer.output.native();
    out << QByteArray::fromStdString(kinds.raw(answer.kind)) << answer.fraction
        << QByteArray(path.data(), qsizetype(path.size())) << QByteArray::fromStdString(answer.message);
    return result;
}

std::optional<Answer> unpackAnswer(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(streamVersion);
    QByteArray kind, output, message;
    Answer answer;
    in >> kind >> answer.fraction >> output >> message;
    const auto parsed = kinds.parse(kind.toStdString());
    if (in.status() != QDataStream::Ok || !in.atEnd() || !parsed)
        return std::nullopt;
    answer.kind = *parsed;
    answer.output = output.toStdString();
    answer.message = message.toStdString();
    return answer;
}

QByteArray frame(const QByteArray& payload)
{
    QByteArray result(4, '\0');
    qToBigEndian(quint32(payload.size()), result.data());
    return result + payload;
}

std::optional<QByteArray> takeFrame(QByteArray& buffer)
{
    if (buffer.size() < 4)
        return std::nullopt;
    const auto length = qFromBigEndian<quint32>(buffer.constData());
    if (length > longestFrame)
        throw std::length_error("frame");
    if (buffer.size() < 4 + qsizetype(length))
        return std::nullopt;
    QByteArray payload = buffer.mid(4, length);
    buffer.remove(0, 4 + length);
    return payload;
}

}
