#include "support/fakes.h"

#include <QTimer>

void FakeInet::Execute(const QString& url, const QString&) {
    requests << url;
    const quint64 generation = ++generation_;
    written_ = 0;
    auto it = answers.find(url);
    Answer answer = it == answers.end() ? Answer{404, "not found", -2, false, false} : it->second;
    if (whileWaiting) {
        whileWaiting(url);
    }
    if (answer.never) {
        return;
    }
    QTimer::singleShot(1, this, [this, answer, generation] {
        if (generation != generation_) {
            return;
        }
        code_ = answer.code;
        announced_ = answer.announced == -2 ? answer.body.size() : answer.announced;
        if (answer.fail) {
            if (StateChanged) {
                StateChanged(platform::Fail("fake failure"));
            }
            return;
        }
        Deliver(answer.body, 0, generation);
    });
}

// One piece of the body a turn of the event loop, then the end.
void FakeInet::Deliver(const QByteArray& body, qsizetype from, quint64 generation) {
    if (generation != generation_) {
        return;
    }
    if (from < body.size()) {
        const QByteArray bytes = body.mid(from, piece);
        if (const auto written = writer_ ? writer_->Write(bytes) : platform::Result<>(); !written) {
            if (StateChanged) {
                StateChanged(platform::Fail(written.reason()));
            }
            return;
        }
        written_ += bytes.size();
        if (StateChanged) {
            StateChanged(platform::kInetReceivingResponse);
        }
        QTimer::singleShot(
            0, this, [this, body, from, generation] { Deliver(body, from + piece, generation); });
        return;
    }
    if (StateChanged) {
        StateChanged(platform::kInetResponseReceived);
    }
}
