#include "support/content_site.h"

#include <QDir>
#include <QFile>

ContentSite::ContentSite(const QStringList& options) {
    QDir().mkpath(Www() + "/test/fotos");
    QDir().mkpath(Www() + "/freedata");
    server_.setProgram("python3");
    server_.setArguments(QStringList{DRAVONELLE_CONTENT_SITE, Www()} + options);
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server_.start();
    if (server_.waitForReadyRead(10000)) {
        port_ = server_.readLine().trimmed().toUShort();
    }
}

ContentSite::~ContentSite() {
    server_.kill();
    server_.waitForFinished();
}

platform::Endpoints ContentSite::Endpoints() const {
    const QString base = "http://127.0.0.1:" + QString::number(port_);
    return {"127.0.0.1:" + QString::number(port_), base + "/freedata/meerdaagsebanner.jpg",
            base + "/radio.asx"};
}

void ContentSite::File(const QString& path, const QByteArray& bytes) const {
    QFile file(Www() + "/" + path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
}
