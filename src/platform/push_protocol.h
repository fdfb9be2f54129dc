#pragma once

#include <QByteArray>
#include <QtGlobal>

// The words of the push protocol on port 1001, shared by the push server and
// dravonelle-push. A push is: "Msg_Dst_" + three bytes + the file's name, answered with
// "Msg_OkS"; the file's bytes in messages, each read answered with "Msg_Rec"; then
// "Msg_Eof_", which has no answer.
//
// A file that the display does not put in place (its content is not what its name says,
// or the disk did not take it) is answered, once that is known, with "Msg_Ref" and the
// reason, and its connection is closed. A peer that wants to know either way ends the file
// with "Msg_Eof_" + "Verdict" (the display's older versions read the end and ignore the
// rest) and is answered "Msg_Acc" once the file is in place.
namespace push_protocol {

inline const QByteArray kDst = QByteArrayLiteral("Msg_Dst_");
inline const QByteArray kEof = QByteArrayLiteral("Msg_Eof_");
inline const QByteArray kOkS = QByteArrayLiteral("Msg_OkS");
inline const QByteArray kRec = QByteArrayLiteral("Msg_Rec");
inline const QByteArray kAskVerdict = QByteArrayLiteral("Verdict");  // after "Msg_Eof_"
inline const QByteArray kAcc = QByteArrayLiteral("Msg_Acc");
inline const QByteArray kRef = QByteArrayLiteral("Msg_Ref");  // then " " and the reason
constexpr int kSkipAfterDst = 3;  // the bytes between "Msg_Dst_" and the name
constexpr quint16 kPort = 1001;   // a display's port unless its [system] push_port says another

}  // namespace push_protocol
