#include "remote/client/reply_parsing.h"

#include "library/track_scan.h"
#include "remote/protocol.h"

namespace tallowcrest {

namespace {

QByteArrayView view(std::string_view word)
{
    return QByteArrayView(word.data(), static_cast<qsizetype>(word.size()));
}

const QByteArrayView kStart = view(protocol::kListStart);
const QByteArrayView kEnd = view(protocol::kListEnd);
const QByteArrayView kLineEnd = view(protocol::kLineEnd);
const QByteArrayView kCodePrefix = view(protocol::kCodePrefix);
const QByteArrayView kStarted = view(protocol::kTrackOpened);
const QByteArrayView kEnded = view(protocol::kTrackEnded);
const QByteArrayView kShuffleOn = view(protocol::kShuffleOn);
const QByteArrayView kShuffleOff = view(protocol::kShuffleOff);

qsizetype nextCodeFrom(QByteArrayView block, qsizetype from)
{
    const qsizetype found = block.indexOf(kCodePrefix, from);
    return found < 0 ? block.size() : found;
}

}  // namespace

void TrackListReply::append(QByteArrayView bytes)
{
    m_buffer.append(bytes);
    if (m_bodyStart < 0) {
        const qsizetype start = m_buffer.indexOf(kStart);
        if (start >= 0) {
            m_buffer.remove(0, start);
            m_bodyStart = kStart.size();
        }
    }
}

bool TrackListReply::mayBeComplete() const
{
    if (m_bodyStart < 0)
        return false;
    const QByteArrayView body = QByteArrayView(m_buffer).sliced(m_bodyStart);
    if (body == kEnd)
        return true;
    return body.endsWith(kLineEnd.toByteArray() + kEnd.toByteArray());
}

QList<QByteArray> TrackListReply::paths() const
{
    QList<QByteArray> result;
    if (!mayBeComplete())
        return result;
    const QByteArrayView body = QByteArrayView(m_buffer).sliced(m_bodyStart).chopped(kEnd.size());
    qsizetype lineStart = 0;
    while (lineStart < body.size()) {
        const qsizetype lineEnd = body.indexOf(kLineEnd, lineStart);
        // mayBeComplete() guarantees the body ends with CR LF, so there is always one.
        result.append(body.sliced(lineStart, lineEnd - lineStart).toByteArray());
        lineStart = lineEnd + kLineEnd.size();
    }
    return result;
}

QList<Notification> splitNotifications(QByteArrayView block)
{
    QList<Notification> result;
    qsizetype at = 0;
    while (at < block.size()) {
        const QByteArrayView rest = block.sliced(at);
        if (rest.startsWith(kStarted)) {
            const qsizetype titleStart = at + kStarted.size();
            const qsizetype titleEnd = nextCodeFrom(block, titleStart);
            result.append(Notification{Notification::Kind::Started, block.sliced(titleStart, titleEnd - titleStart).toByteArray()});
            at = titleEnd;
        } else if (rest.startsWith(kEnded)) {
            result.append(Notification{Notification::Kind::Ended, {}});
            at += kEnded.size();
        } else if (rest.startsWith(kShuffleOn)) {
            result.append(Notification{Notification::Kind::ShuffleOn, {}});
            at += kShuffleOn.size();
        } else if (rest.startsWith(kShuffleOff)) {
            result.append(Notification{Notification::Kind::ShuffleOff, {}});
            at += kShuffleOff.size();
        } else {
            const qsizetype unknownEnd = nextCodeFrom(block, at + 1);
            result.append(Notification{Notification::Kind::Unknown, block.sliced(at, unknownEnd - at).toByteArray()});
            at = unknownEnd;
        }
    }
    return result;
}

QByteArray describeNotification(const Notification& notification)
{
    switch (notification.kind) {
    case Notification::Kind::Started: return "started: " + notification.text;
    case Notification::Kind::Ended: return "ended";
    case Notification::Kind::ShuffleOn: return "shuffle: on";
    case Notification::Kind::ShuffleOff: return "shuffle: off";
    case Notification::Kind::Unknown: break;
    }
    QByteArray shown = "unknown: ";
    for (const char byte : notification.text) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x20 || value == 0x7f)
            shown += "\\x" + QByteArray::number(value, 16).rightJustified(2, '0');
        else
            shown += byte;
    }
    return shown;
}

QByteArray trackTitleOf(QByteArrayView path)
{
    const std::string_view title = TrackTitle(std::string_view(path.data(), static_cast<std::size_t>(path.size())));
    return QByteArray(title.data(), static_cast<qsizetype>(title.size()));
}

OpenReply parseOpenReply(QByteArrayView block, QByteArrayView path)
{
    const QByteArray expected = kStarted.toByteArray() + trackTitleOf(path);
    if (block.startsWith(expected) && !trackTitleOf(path).isEmpty()) {
        const QByteArrayView after = block.sliced(expected.size());
        if (after.isEmpty() || after.startsWith(kCodePrefix))
            return {OpenReply::Kind::Opened, trackTitleOf(path)};
    }
    const QList<Notification> notifications = splitNotifications(block);
    for (const Notification& notification : notifications) {
        if (notification.kind == Notification::Kind::Started && notification.text == trackTitleOf(path))
            return {OpenReply::Kind::Opened, notification.text};
    }
    for (const Notification& notification : notifications) {
        if (notification.kind == Notification::Kind::Started)
            return {OpenReply::Kind::Opened, notification.text};
        if (notification.kind == Notification::Kind::Ended)
            return {OpenReply::Kind::NotFound, {}};
    }
    return {OpenReply::Kind::Unrecognised, {}};
}

}  // namespace tallowcrest
