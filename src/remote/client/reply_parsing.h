#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace tallowcrest {

// Collects the answer to "00": "START", the list lines (each ended by CR LF), "END".
// The answer carries no length and a path may itself contain "END", so the end
// is only a candidate: the bytes after "START" are exactly "END" or end with
// CR LF "END". The caller confirms a candidate by a short quiet time without
// further bytes (the server holds still after sending "END").
// Bytes before the first "START" (a notification sent just before the request
// was handled) are skipped.
class TrackListReply {
public:
    void append(QByteArrayView bytes);
    bool hasStarted() const { return m_bodyStart >= 0; }
    bool mayBeComplete() const;
    // The paths of a complete reply, in the order sent, without CR LF.
    QList<QByteArray> paths() const;

private:
    QByteArray m_buffer;
    qsizetype m_bodyStart = -1;
};

struct Notification {
    enum class Kind { Started, Ended, ShuffleOn, ShuffleOff, Unknown };
    Kind kind;
    QByteArray text;  // the title for Started, the bytes for Unknown
};

// Splits one block of unsolicited bytes into notifications. Several may come
// joined in one read: "CODE_12" is one, "CODE_13True"/"CODE_13False" are one,
// and "CODE_11" takes the title up to the next "CODE_1" or the end of the block.
// Bytes that fit none of these run to the next "CODE_1" as one Unknown.
QList<Notification> splitNotifications(QByteArrayView block);

// The line that watch prints for a notification, without the line feed.
// Control bytes in unknown data are shown as \xNN so that one notification
// stays one line.
QByteArray describeNotification(const Notification& notification);

// The title the server gives a path: the part after the last "/", less its
// last four characters (".mp3").
QByteArray trackTitleOf(QByteArrayView path);

struct OpenReply {
    enum class Kind { Opened, NotFound, Unrecognised };
    Kind kind;
    QByteArray title;
};

// Reads the answer to "01"+path from the bytes collected after sending it.
// "CODE_11" followed by the path's own title is taken whole even if the title
// contains "CODE_1", and wins over a notification joined to it; otherwise the
// first CODE_11 or CODE_12 decides.
OpenReply parseOpenReply(QByteArrayView block, QByteArrayView path);

}  // namespace tallowcrest
