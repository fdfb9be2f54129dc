#include "support/fakes.h"

#include <QTimer>

void FakeInet::Execute(const QString& url, const QString&) {
    requests << url;
    auto it = answers.find(url);
    Answer answer = it == answers.end() ? Answer{404, "not found", -2, false, false} : it->second;
    if (whileWaiting) {
        whileWaiting(url);
    }
    if (answer.never) {
        return;
    }
    QTimer::singleShot(1, this, [this, answer] {
        body_ = answer.body;
        pos_ = 0;
        code_ = answer.code;
        announced_ = answer.announced == -2 ? answer.body.size() : answer.announced;
        if (StateChanged) {
            StateChanged(answer.fail ? platform::kInetError : platform::kInetResponseReceived);
        }
    });
}
