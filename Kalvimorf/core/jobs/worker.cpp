#include "core/jobs/worker.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/raw_values.h"
#include "core/base/task.h"
#include "core/jobs/job_process.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace Worker {

namespace {

struct KindRow {
    Answer::Kind value;
    const char* raw;
};
constexpr EnumTable<KindRow, 10> kinds{{{
    {Answer::Kind::ready, "ready"},
    {Answer::Kind::progress, "progress"},
    {Answer::Kind::done, "done"},
    {Answer::Kind::failed, "failed"},
    {Answer::Kind::cancelled, "cancelled"},
    {Answer::Kind::notice, "notice"},
    {Answer::Kind::component, "component"},
    {Answer::Kind::staged, "staged"},
    {Answer::Kind::note, "note"},
    {Answer::Kind::working, "working"},
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

bool send(int channel, const Answer& answer) { return sendAll(channel, frame(pack(answer))); }

bool sendAll(int channel, const QByteArray& data)
{
    qsizetype offset = 0;
    while (offset < data.size()) {
        const ssize_t count
            = ::send(channel, data.constData() + offset, size_t(data.size() - offset), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        offset += count;
    }
    return true;
}

std::optional<QByteArray> readFrame(int fd, QByteArray& pending)
{
    char buffer[4096];
    for (;;) {
        try {
            if (auto payload = takeFrame(pending))
                return payload;
        } catch (const std::length_error&) {
            return std::nullopt;
        }
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        pending.append(buffer, qsizetype(count));
    }
}

Answer answerFor(const std::function<fs::path()>& work)
{
    Task::Binder binder(Task::newJob());
    try {
        return {Answer::Kind::done, 0, work(), {}};
    } catch (const CancellationError&) {
        return {Answer::Kind::cancelled, 0, {}, {}};
    } catch (const std::bad_alloc&) {
        std::_Exit(JobProcess::outOfMemoryStatus);
    } catch (const std::exception& error) {
        return {Answer::Kind::failed, 0, {}, describeError(error)};
    } catch (...) {
        return {Answer::Kind::failed, 0, {}, ErrorCauses::unexpected};
    }
}

}
