#include "platform/qt/qt_settings_store.h"
#include "support/test_rig.h"
#include "window/power_off.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString Stored(TestRig& rig, const QString& key) {
    return rig.store->values.count("dravonelle/main/" + key)
               ? rig.store->values["dravonelle/main/" + key]
               : "<absent>";
}

// The log's lines while `run` runs.
QStringList LogDuring(const std::function<void()>& run) {
    static QStringList* lines = nullptr;
    QStringList seen;
    lines = &seen;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { lines->append(text); });
    run();
    qInstallMessageHandler(previous);
    lines = nullptr;
    return seen;
}

// Whether `end` ends the program for a fresh start: the window closes and the event loop
// is told to end with the restart status.
bool EndsForRestart(Form1& form, const std::function<void()>& end) {
    const QStringList log = LogDuring(end);
    const QString told = QStringLiteral("ending now, with status %1").arg(Form1::kRestartStatus);
    return form.Closing() && std::any_of(log.cbegin(), log.cend(),
                                         [&](const QString& line) { return line.endsWith(told); });
}

}  // namespace

TEST(StartUp, FirstStartWithEmptyStoreStoresFallbackAndEmptyTime) {
    TestRig rig;
    rig.Load();
    EXPECT_EQ(rig.form->Lokatie->text(), "http://site.test/test");
    EXPECT_EQ(Stored(rig, "lokatie"), "http://site.test/test");
    EXPECT_EQ(rig.form->TxttijdUit->text(), "");
    EXPECT_EQ(Stored(rig, "compuit"), "");
    EXPECT_EQ(Stored(rig, "update"), "<absent>");
    EXPECT_EQ(rig.form->ChkNoUpdate->checkState(), Qt::Unchecked);
}

TEST(StartUp, StoredValuesAreLoadedAndEmptyLocationReplaced) {
    TestRig rig;
    rig.store->values["dravonelle/main/lokatie"] = "";
    rig.store->values["dravonelle/main/compuit"] = "22:30";
    rig.store->values["dravonelle/main/update"] = "1";
    rig.Load();
    EXPECT_EQ(Stored(rig, "lokatie"), "http://site.test/test");
    EXPECT_EQ(rig.form->TxttijdUit->text(), "22:30");
    EXPECT_TRUE(rig.form->ChkNoUpdate->isChecked());
    // "22:30" is the design text: no change, no write; the ticked box is written back.
    EXPECT_EQ(rig.store->writes, QStringList({"lokatie=http://site.test/test", "update=1"}));
}

TEST(StartUp, NonNumericOrUnreadableSettingsKeepDesignState) {
    TestRig rig;
    rig.store->values["dravonelle/main/update"] = "yes";
    rig.Load();
    EXPECT_FALSE(rig.form->ChkNoUpdate->isChecked());

    TestRig unreadable;
    unreadable.store->unreadable = true;
    unreadable.Load();
    // Every control keeps its design value, and nothing is written.
    EXPECT_EQ(unreadable.form->TxttijdUit->text(), "22:30");
    EXPECT_EQ(unreadable.form->Lokatie->text(), "site.test/");
    EXPECT_TRUE(unreadable.store->writes.isEmpty());
}

TEST(Settings, EveryKeystrokeAndClickIsStored) {
    TestRig rig;
    rig.Load();
    rig.form->show();
    rig.store->writes.clear();
    rig.form->extra->show();
    QTest::keyClicks(rig.form->TxttijdUit, "22:45");
    EXPECT_EQ(rig.store->writes, QStringList({"compuit=2", "compuit=22",
                                              "compuit=22:", "compuit=22:4", "compuit=22:45"}));
    QTest::keyClicks(rig.form->TxttijdUit, "9");  // at most five characters
    EXPECT_EQ(rig.form->TxttijdUit->text(), "22:45");

    rig.store->writes.clear();
    rig.form->ChkNoUpdate->click();
    rig.form->ChkNoUpdate->click();
    EXPECT_EQ(rig.store->writes, QStringList({"update=1", "update=0"}));
}

TEST(Settings, LocationIsStoredWhenTheBoxLosesFocus) {
    TestRig rig;
    rig.Load();
    rig.form->show();
    rig.form->extra->show();
    rig.form->Lokatie->setText("http://elsewhere.test");
    EXPECT_EQ(Stored(rig, "lokatie"), "http://site.test/test");
    QFocusEvent focusOut(QEvent::FocusOut, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(rig.form->Lokatie, &focusOut);
    EXPECT_EQ(Stored(rig, "lokatie"), "http://elsewhere.test");
    rig.form->cmdEdit_Click();
    EXPECT_EQ(rig.shell->opened, QStringList({"http://elsewhere.test|0"}));
}

TEST(Settings, PanelButtonTogglesAndMovesMediaPlayerUp) {
    TestRig rig;
    rig.Load();
    rig.form->show();
    const float top = rig.media->Top();
    QList<bool> shown;
    for (int i = 0; i < 4; ++i) {
        rig.form->CmdShowinstelling->click();
        shown << rig.form->extra->isVisible();
    }
    EXPECT_EQ(shown, QList<bool>({true, false, true, false}));
    EXPECT_FLOAT_EQ(rig.media->Top(), top - 20);
}

TEST(Window, ResizeKeepsMainPlayerCoveringTheWindow) {
    TestRig rig;
    rig.Load();
    rig.form->show();
    rig.form->resize(800, 600);
    QCoreApplication::processEvents();
    EXPECT_FLOAT_EQ(rig.flash1->Width(), rig.form->frameGeometry().width() * 15.0f);
    EXPECT_FLOAT_EQ(rig.flash1->Height(), rig.form->frameGeometry().height() * 15.0f);
    EXPECT_EQ(rig.flash1->Widget()->geometry(),
              QRect(QPoint(0, 0), rig.form->frameGeometry().size()));
    EXPECT_FLOAT_EQ(rig.flash2->Width(), 10920);
    EXPECT_FLOAT_EQ(rig.media->Left(), 720);
    EXPECT_FLOAT_EQ(rig.media->Width(), 2400);
    EXPECT_FLOAT_EQ(rig.form->Image1.Width(), 10575);
}

TEST(Window, InventoryAndStacking) {
    TestRig rig;
    rig.Load();
    auto& f = *rig.form;
    EXPECT_EQ(f.windowTitle(), "Dravonelle");
    EXPECT_EQ(f.CmdShowinstelling->geometry(), QRect(0, 0, 17, 17));
    EXPECT_EQ(f.CloseButton->text(), "X");
    EXPECT_EQ(f.extra->title(), "Instellingen");
    EXPECT_EQ(f.lblinstelling[3]->text(), "Afsluit tijd");
    // Its place as designed; its width may grow with the caption's face (see below).
    EXPECT_EQ(f.FotoOverslaan->geometry().topLeft(), QPoint(256, 176));
    EXPECT_EQ(f.FotoOverslaan->height(), 33);
    EXPECT_GE(f.FotoOverslaan->width(), 81);
    EXPECT_FALSE(f.extra->isVisibleTo(&f));
    EXPECT_FALSE(rig.flash2->Visible());
    EXPECT_EQ(f.CheckCompUit.Interval(), 30000);
    EXPECT_TRUE(f.CheckCompUit.Enabled());
    EXPECT_FALSE(f.RadioaanTimer.Enabled());
    // Back to front: photo area, players, panel and corner buttons.
    const auto children = f.children();
    const auto order = [&](QWidget* w) { return children.indexOf(w); };
    EXPECT_LT(order(f.Image1.Widget()), order(rig.flash1->Widget()));
    EXPECT_LT(order(rig.flash1->Widget()), order(rig.flash2->Widget()));
    EXPECT_LT(order(rig.flash2->Widget()), order(rig.media->Widget()));
    EXPECT_LT(order(rig.media->Widget()), order(f.extra));
    EXPECT_LT(order(f.extra), order(f.CmdShowinstelling));
    EXPECT_EQ(rig.flash1->movie, "download.swf");
}

TEST(Window, CloseShutsEverySocket) {
    {
        TestRig rig;
        rig.Load();
        rig.form->show();
        const quint16 port = rig.sockets->LocalPort(0);
        rig.form->CloseButton->click();
        EXPECT_FALSE(rig.sockets->IsConnected(0));
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_FALSE(probe.waitForConnected(1000) &&
                     PumpUntil([&] { return probe.state() != QAbstractSocket::ConnectedState; },
                               1000) == false);
    }
    TestRig rig;
    rig.Load();
    rig.form->show();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, rig.sockets->LocalPort(0));
    ASSERT_TRUE(PumpUntil([&] { return rig.sockets->IsConnected(1); }));
    EXPECT_EQ(rig.form->lblInfo->text(), "Connection Estabilished...");
    rig.form->close();
    EXPECT_FALSE(rig.sockets->IsConnected(0));
    EXPECT_FALSE(rig.sockets->IsConnected(1));
    EXPECT_TRUE(PumpUntil([&] { return peer.state() == QAbstractSocket::UnconnectedState; }));
}

TEST(Window, ActivationCreatesFoldersAndStartsRadioAfterTheCycle) {
    TestRig rig;
    rig.Load();
    rig.form->show();
    rig.media->calls.clear();
    rig.inet->whileWaiting = [&](const QString&) {
        EXPECT_TRUE(rig.form->Updating);
        EXPECT_TRUE(rig.media->calls.isEmpty());  // no radio before the cycle is over
    };
    rig.form->Form_Activate();
    EXPECT_TRUE(rig.files->FolderExists("c:\\FILEFTP\\fotos"));
    EXPECT_TRUE(rig.files->FolderExists("c:\\fileftp\\BUFFER"));
    EXPECT_EQ(rig.inet->timeout, 60);
    EXPECT_FALSE(rig.form->Updating);
    EXPECT_EQ(rig.media->calls, QStringList({"URL=http://radio.test/radio.asx", "play"}));
    EXPECT_TRUE(rig.form->RadioPlaying);
    // A second activation finds the folders there and goes on.
    rig.media->calls.clear();
    rig.form->Form_Activate();
    EXPECT_FALSE(rig.form->Updating);
}

TEST(Window, PortTakenEndsTheProgramWithAMessage) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    QTemporaryDir temp;
    QSettings config(temp.path() + "/config/dravonelle/dravonelle.conf", QSettings::IniFormat);
    config.setValue("system/push_port", taken.serverPort());
    config.sync();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", temp.path() + "/config");
    env.insert("XDG_DATA_HOME", temp.path() + "/data");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(DRAVONELLE_BINARY, {});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_NE(program.exitCode(), 0);
    const QString err = QString::fromUtf8(program.readAllStandardError());
    EXPECT_TRUE(err.contains(QString::number(taken.serverPort()))) << err.toStdString();
}

TEST(Window, RealSettingsFileHoldsTheKeys) {
    TestRig::Options options;
    options.realStore = true;
    {
        TestRig rig(options);
        rig.Load();
        rig.form->ChkNoUpdate->setChecked(true);
        // Stored behind the window's back; what is set is what is read meanwhile.
        auto& store = dynamic_cast<platform::QtSettingsStore&>(*rig.form->Platform().settings);
        const auto meanwhile = store.Get("dravonelle", "main", "update");
        ASSERT_TRUE(meanwhile);
        EXPECT_EQ(*meanwhile, std::optional<QString>("1"));
        store.Flush();
        QSettings file(rig.temp.path() + "/config/dravonelle/dravonelle.conf",
                       QSettings::IniFormat);
        EXPECT_EQ(file.value("main/lokatie").toString(), "http://site.test/test");
        EXPECT_EQ(file.value("main/update").toString(), "1");
        EXPECT_TRUE(file.contains("main/compuit"));
    }
}

// Only http and https addresses are taken from [endpoints], and the transfer itself
// fetches nothing else: "file:///etc/hostname" would copy a system file into the content.
TEST(Window, ConfiguredAddressesAreHttpOrHttpsOnly) {
    struct Case {
        const char* key;
        QString value;
        bool kept;
    };
    const QList<Case> cases = {
        {"weather_url", "file:///etc/hostname", false},
        {"weather_url", "ftp://weer.test/banner.jpg", false},
        {"weather_url", "/etc/hostname", false},
        {"weather_url", "HTTPS://weer.test/banner.jpg", true},
        {"radio_url", "http://radio.test:8000/radio.asx", true},
        {"radio_url", "file:///srv/radio.asx", false},
        {"site_host", "site.test:8080", true},
        {"site_host", "site.test/other", false},
        {"site_host", "user@site.test", false},
    };
    QTemporaryDir temp;
    platform::QtSettingsStore store(temp.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + (" = " + c.value).toStdString());
        {
            QSettings file(store.FilePath("dravonelle"), QSettings::IniFormat);
            file.clear();
            file.setValue(QString("endpoints/") + c.key, c.value);
        }
        const platform::Endpoints read = store.ReadEndpoints("dravonelle");
        const QString got = QString(c.key) == "site_host"   ? read.siteHost
                            : QString(c.key) == "radio_url" ? read.radioUrl
                                                            : read.weatherUrl;
        EXPECT_EQ(got, c.kept ? c.value : QString());
    }
    platform::CurlInet inet;
    std::optional<platform::Result<int>> state;
    inet.StateChanged = [&](const platform::Result<int>& s) { state = s; };
    inet.Execute("file:///etc/hostname", "GET");
    ASSERT_TRUE(PumpUntil([&] { return state.has_value(); }, 5000));
    EXPECT_TRUE(state->reason().startsWith("not an http or https address"));
}

// After a crash or a power cut, the start removes the unfinished files it wrote itself,
// of every naming used so far, and nothing else.
TEST(Window, StartRemovesUnfinishedFilesOfAnEarlierRun) {
    TestRig rig;
    rig.Load();
    const QStringList left = {"c:\\fileftp\\.dravonelle.swf.dravonelle-part",
                              "c:\\fileftp\\fotos\\.a.jpg.dravonelle-part",
                              "c:\\fileftp\\Buffer\\.b.png.dravonelle-part",
                              "c:\\fileftp\\fotos\\.c.jpg.dravonelle-copy",
                              "c:\\fileftp\\.download\\fetch.part",
                              "c:\\fileftp\\.download\\listing.part"};
    const QStringList kept = {"c:\\fileftp\\.hidden", "c:\\fileftp\\fotos\\a.jpg",
                              "c:\\fileftp\\fotos\\x.dravonelle-part"};
    for (const QString& path : left + kept) {
        rig.WriteDriveFile(path, "x");
    }
    rig.form->Form_Activate();
    for (const QString& path : left) {
        EXPECT_FALSE(rig.files->FileExists(path)) << path.toStdString();
    }
    for (const QString& path : kept) {
        EXPECT_TRUE(rig.files->FileExists(path)) << path.toStdString();
    }
    EXPECT_FALSE(rig.files->FolderExists("c:\\fileftp\\.download"));
}

// Past its memory ceiling the program waits for a moment when nothing would be cut short,
// then ends with the status that asks for a fresh start.
TEST(MemoryCeiling, EndsAtTheFirstQuietMomentWithTheRestartStatus) {
    TestRig rig;
    rig.Load();
    auto& form = *rig.form;
    form.RadioPlaying = true;
    rig.memory->mib = form.Platform().memoryCeilingMb;  // at the ceiling is not past it
    form.MemoryCeilingTimer_Timer();
    EXPECT_FALSE(form.Closing());
    EXPECT_EQ(form.MemoryCeilingTimer.Interval(), 60000);

    rig.memory->mib = form.Platform().memoryCeilingMb + 1;
    const std::vector<std::pair<const char*, std::function<void(bool)>>> busy = {
        {"update", [&](bool on) { form.Updating = on; }},
        {"film",
         [&](bool on) {
             form.RadioPlaying = !on;
             rig.media->SetURL(on ? "c:\\fileftp\\film.mpg" : "http://radio.test/radio.asx");
         }},
        {"inserted movie", [&](bool on) { form.flashtimer.SetEnabled(on); }},
        {"photo", [&](bool on) { form.Timer1.SetEnabled(on); }},
        {"import",
         [&](bool on) {
             if (on) {  // under way until the event loop brings the copy's end
                 rig.dialog->nextName = rig.Host("c:\\fileftp\\dravonelle.swf");
                 rig.dialog->nextTitle = "copy.swf";
                 form.FileCopyButton_Click();
             } else {
                 ASSERT_TRUE(PumpUntil([&] { return !form.Importing(); }));
             }
         }},
    };
    for (const auto& [what, set] : busy) {
        set(true);
        form.MemoryCeilingTimer_Timer();
        EXPECT_FALSE(form.Closing()) << what;
        set(false);
    }
    EXPECT_EQ(form.MemoryCeilingTimer.Interval(), 1000);  // now looks every second
    EXPECT_TRUE(EndsForRestart(form, [&] { form.MemoryCeilingTimer_Timer(); }));
}

// The engine started afresh: an inserted movie ends; the shared process's end seen by
// both players is one incident; a second incident within ten minutes ends the program at
// the next quiet moment.
TEST(SelfCheck, EngineStartedAfreshTwiceInTenMinutesRestartsAtAQuietMoment) {
    TestRig rig;
    rig.Load();
    auto& form = *rig.form;
    rig.WriteDriveFile("c:\\fileftp\\item.swf", "FWS");
    rig.flash2->totalFrames = 100;
    form.ShockwaveFlash1_FSCommand("flash", "movie:item.swf");
    ASSERT_TRUE(form.flashtimer.Enabled());
    const QDateTime t0 = QDateTime::currentDateTime();
    form.selfCheck.FlashEngineRecovered(form.ShockwaveFlash2, "the page has not answered for 20 s",
                                        t0);
    EXPECT_FALSE(form.flashtimer.Enabled());
    EXPECT_EQ(rig.flash1->variables["film"], "klaar");
    const struct {
        int seconds;
        bool restart;
    } incidents[] = {{1, false}, {11 * 60, false}, {15 * 60, true}};
    for (const auto& [seconds, restart] : incidents) {
        form.selfCheck.FlashEngineRecovered(form.ShockwaveFlash1, "the engine's process ended (9)",
                                            t0.addSecs(seconds));
        EXPECT_EQ(form.selfCheck.EngineRestartTimer.Enabled(), restart) << seconds;
    }
    EXPECT_EQ(form.selfCheck.Reasons(t0.addSecs(15 * 60)).first().toStdString(),
              "flash engine started afresh 2 times in ten minutes (last: main movie: the "
              "engine's process ended (9))");
    // Later, only the incidents of the ten minutes before count.
    EXPECT_TRUE(form.selfCheck.Reasons(t0.addSecs(22 * 60))
                    .first()
                    .startsWith("flash engine started afresh 1 times"));
    // The restart waits, and says so, until a quiet moment.
    EXPECT_TRUE(
        form.selfCheck.Reasons(t0.addSecs(22 * 60)).last().endsWith("at the next quiet moment"));
    form.Updating = true;
    form.selfCheck.EngineRestartTimer_Timer();
    EXPECT_FALSE(form.Closing());
    form.Updating = false;
    EXPECT_TRUE(EndsForRestart(form, [&] { form.selfCheck.EngineRestartTimer_Timer(); }));
}

// The picture's look: black for a minute, still for ten minutes while the main movie alone
// is shown; anything else on air, or a change, starts the count again.
TEST(SelfCheck, BlackOrStillPictureIsReported) {
    struct Grabber : platform::PictureGrabber {
        QImage Grab(QWidget&) override { return next; }
        QImage next;
    };
    Grabber* grabber = nullptr;
    TestRig::Options options;
    options.customize = [&](platform::Platform& p) {
        auto owned = std::make_unique<Grabber>();
        grabber = owned.get();
        p.grabber = std::move(owned);
    };
    TestRig rig(options);
    rig.Load();
    auto& form = *rig.form;
    const auto picture = [](QColor colour, QColor spot) {
        QImage image(320, 180, QImage::Format_RGB32);
        image.fill(colour);
        for (int y = 60; y < 120; ++y) {
            for (int x = 100; x < 200; ++x) {
                image.setPixelColor(x, y, spot);
            }
        }
        return image;
    };
    const QImage black = picture(Qt::black, QColor(10, 10, 10));  // still "black"
    const QImage page = picture(Qt::blue, Qt::white);
    const QImage moved = picture(Qt::blue, Qt::yellow);
    const QDateTime t0 = QDateTime::currentDateTime();
    const auto reasons = [&](int seconds) {
        return form.selfCheck.Reasons(t0.addSecs(seconds)).join(" | ").toStdString();
    };
    const auto look = [&](const QImage& image, int seconds) {
        grabber->next = image;
        form.selfCheck.PictureCheck(t0.addSecs(seconds));
    };
    look(black, 0);
    look(black, 59);
    EXPECT_EQ(reasons(59), "");
    look(black, 61);
    EXPECT_EQ(reasons(61), "picture: black for 61 s");
    look(page, 65);
    EXPECT_EQ(reasons(65), "");

    form.onAir.Begin(on_air::Kind::kMain, OnAirLedger::File("c:\\fileftp\\dravonelle.swf"));
    look(page, 100);
    look(page, 100 + 599);
    EXPECT_EQ(reasons(100 + 599), "");
    look(page, 100 + 601);
    EXPECT_EQ(reasons(100 + 601), "picture: unchanged for 10 min while the main movie plays");
    look(moved, 800);
    EXPECT_EQ(reasons(800), "");
    form.onAir.Begin(on_air::Kind::kPhoto,
                     {"a.jpg", "c:\\fileftp\\a.jpg", 5000});  // the main movie is not alone now
    look(moved, 900);
    look(moved, 2000);
    EXPECT_EQ(reasons(2000), "");
}

// Every caption of the settings panel is shown whole in the size its control has, with
// the fonts the package installs.
TEST(Settings, EveryControlOfThePanelShowsItsWholeText) {
    TestRig rig;
    rig.Load();
    rig.form->show();
    rig.form->CmdShowinstelling->click();
    ASSERT_TRUE(rig.form->extra->isVisible());
    int checked = 0;
    for (QWidget* control : rig.form->extra->findChildren<QWidget*>()) {
        QString text;
        int needed = 0;
        const QFontMetrics metrics = control->fontMetrics();
        if (auto* check = qobject_cast<QCheckBox*>(control)) {
            text = check->text();
            needed = check->sizeHint().width();
        } else if (auto* button = qobject_cast<QPushButton*>(control)) {
            text = button->text();
            needed = metrics.horizontalAdvance(text) + 4;  // inside its frame
        } else if (auto* label = qobject_cast<QLabel*>(control); label && !label->wordWrap()) {
            text = label->text();
            needed = metrics.horizontalAdvance(text);
        }
        if (text.isEmpty()) {
            continue;
        }
        ++checked;
        const QFontInfo face(control->font());
        EXPECT_LE(needed, control->width())
            << text.toStdString() << " in " << face.family().toStdString() << " "
            << face.styleName().toStdString() << " " << face.pixelSize() << " px";
        EXPECT_GE(metrics.height(), 10) << text.toStdString() << ": still readable";
    }
    EXPECT_EQ(checked, 9);  // three labels, the box, five buttons
}

// The next power-off is the set time today, or tomorrow once it has passed; a time the
// daily check can never match has none.
TEST(PowerOff, NextTimeIsTodayOrTomorrowAndNoneForAnUnreadableTime) {
    const QDateTime now(QDate(2026, 12, 9), QTime(14, 30, 15));
    struct Case {
        const char* setTime;
        QDateTime next;
    };
    const Case cases[] = {
        {"23:00", QDateTime(QDate(2026, 12, 9), QTime(23, 0))},
        {"14:31", QDateTime(QDate(2026, 12, 9), QTime(14, 31))},
        {"14:30", QDateTime(QDate(2026, 12, 10), QTime(14, 30))},  // passed a second ago
        {"00:00", QDateTime(QDate(2026, 12, 10), QTime(0, 0))},
        {"23:00:59", QDateTime(QDate(2026, 12, 9), QTime(23, 0))},  // as the check reads it
        {"7:05", {}},
        {"24:00", {}},
        {"", {}},
        {"uit", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setTime);
        EXPECT_EQ(power_off::NextTime(c.setTime, now), c.next);
    }
}
