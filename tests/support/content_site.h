#pragma once

#include "platform/settings_store.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A content site served by a real HTTP server on loopback (tools/content_site.py), from a
// folder of its own: "test/" is the site's location, "test/fotos/" its listed files,
// "testdir.php" its listing and "freedata/" the weather service.
class ContentSite {
  public:
    // With `options` for the server ("--tls CERT KEY", "--proxy").
    explicit ContentSite(const QStringList& options = {});
    ~ContentSite();
    quint16 Port() const { return port_; }
    // The site's location and the weather and radio addresses on it.
    platform::Endpoints Endpoints() const;
    // The folder the server keeps its request log and faults in; "www" below it is served.
    QString State() const { return temp_.path(); }
    QString Www() const { return State() + "/www"; }
    void File(const QString& path, const QByteArray& bytes) const;
    void Listing(const QByteArray& text) const { File("testdir.php", text); }

  private:
    QTemporaryDir temp_;
    QProcess server_;
    quint16 port_ = 0;
};
