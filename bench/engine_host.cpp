// One web page full screen in Qt WebEngine, with the program's engine settings (movies
// play without a click, as in the program), drawn
// either through the widget (QWebEngineView, as the program draws) or through a Qt Quick
// window (QQuickView with the QML WebEngineView). engine_vs_browser runs it beside the
// program and Chromium, so that the cost of each drawing path is measured on its own.
//
//     engine_host --widget|--quick URL
#include "platform/real_platform.h"

#include <QtWebEngineQuick/qtwebenginequickglobal.h>
#include <QApplication>
#include <QFile>
#include <QQmlContext>
#include <QQuickView>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QScreen>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    if (argc != 3 || (qstrcmp(argv[1], "--widget") != 0 && qstrcmp(argv[1], "--quick") != 0)) {
        std::fputs("usage: engine_host --widget|--quick URL\n", stderr);
        return 2;
    }
    const bool quick = qstrcmp(argv[1], "--quick") == 0;
    platform::PrepareAllocator();
    platform::PrepareWebEngine();
    if (quick) {
        QtWebEngineQuick::initialize();
        // The engine asks Qt Quick for OpenGL; without a card the window draws in software,
        // as the program's widgets do.
        if (qgetenv("QT_QUICK_BACKEND") == "software") {
            QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        }
    }
    QApplication app(argc, argv);
    const QUrl url(QString::fromLocal8Bit(argv[2]));
    std::unique_ptr<QWebEngineView> widget;
    std::unique_ptr<QQuickView> view;
    if (quick) {
        view = std::make_unique<QQuickView>();
        view->setColor(Qt::black);
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->rootContext()->setContextProperty(QStringLiteral("pageUrl"), url);
        QTemporaryDir folder;
        QFile qml(folder.filePath(QStringLiteral("page.qml")));
        if (!qml.open(QIODevice::WriteOnly) ||
            qml.write("import QtQuick\nimport QtWebEngine\n"
                      "WebEngineView { url: pageUrl; backgroundColor: \"black\";\n"
                      "  settings.playbackRequiresUserGesture: false;\n"
                      "  onJavaScriptConsoleMessage: (level, message, line, source) =>\n"
                      "    console.warn(message, source, line) }\n") < 0) {
            std::fputs("cannot write the QML file\n", stderr);
            return 1;
        }
        qml.close();
        view->setSource(QUrl::fromLocalFile(qml.fileName()));
        if (view->status() != QQuickView::Ready) {
            std::fputs("the QML WebEngineView did not load\n", stderr);
            return 1;
        }
        view->setGeometry(view->screen()->geometry());
        view->showFullScreen();
    } else {
        widget = std::make_unique<QWebEngineView>();
        widget->page()->setBackgroundColor(Qt::black);
        widget->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
        widget->load(url);
        widget->setGeometry(widget->screen()->geometry());
        widget->showFullScreen();
    }
    return app.exec();
}
