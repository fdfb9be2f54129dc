// The main window: control inventory, start-up (load, then activation), resize and close.
#include "window/form1.h"

#include "platform/event_loop.h"
#include "platform/log.h"
#include "update/listing.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QLocale>

#include <algorithm>

namespace {

constexpr const char* kApp = "dravonelle";
constexpr const char* kSection = "main";

void Place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(platform::TwipsToPixels(left), platform::TwipsToPixels(top),
                        platform::TwipsToPixels(width), platform::TwipsToPixels(height));
}

QPushButton* Button(QWidget* parent, const char* caption, int l, int t, int w, int h) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    Place(button, l, t, w, h);
    return button;
}

// Widens `buttons` together to their widest caption, up to `right` (in their parent); a
// caption still too wide gets a smaller size, down to 8 pixels. The face found on a
// machine can be wider than the design's.
void FitCaptions(std::initializer_list<QPushButton*> buttons, int right) {
    constexpr int kFrame = 4;
    const auto needs = [](QPushButton* b) {
        b->ensurePolished();
        return b->fontMetrics().horizontalAdvance(b->text()) + kFrame;
    };
    int widest = 0;
    for (QPushButton* b : buttons) {
        widest = std::max(widest, needs(b));
    }
    for (QPushButton* b : buttons) {
        b->resize(std::clamp(widest, b->width(), std::max(b->width(), right - b->x())),
                  b->height());
        const QString style = b->styleSheet();
        for (int px = b->fontInfo().pixelSize() - 1; needs(b) > b->width() && px >= 8; --px) {
            b->setStyleSheet(style + QStringLiteral("font-size: %1px;").arg(px));
        }
    }
}

QLabel* Label(QWidget* parent, const char* caption, int l, int t, int w, int h) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    Place(label, l, t, w, h);
    return label;
}

}  // namespace

Form1::Form1(platform::Platform platform, QWidget* parent)
    : QWidget(parent),
      platform_(std::move(platform)),
      ShockwaveFlash2(*platform_.flash2),
      ShockwaveFlash1(*platform_.flash1),
      MediaPlayer1(*platform_.media),
      WskServer(*platform_.sockets),
      Inet1(*platform_.inet),
      CommonDialog1(*platform_.fileDialog),
      onAir(platform_.asrun.get(), ShockwaveFlash1, ShockwaveFlash2),
      selfCheck(platform_.grabber.get(), onAir, ShockwaveFlash2,
                {this, [this] { return QuietMoment(); },
                 [this] {
                     EndForRestart(QStringLiteral("Flash vastgelopen: herstart"),
                                   QStringLiteral("flash engine:"));
                 },
                 [this](const QString& reason) {
                     if (flashtimer.Enabled()) {
                         qCWarning(lcPresentation).noquote()
                             << "inserted movie" << ShockwaveFlash2.Movie()
                             << "ended: its engine was started afresh";
                         EndInsertedMovie(on_air::Outcome::kFailed, reason);
                     }
                 }}),
      lastGood(*platform_.files, ContentPath(kMainMovie), DownloadMoviePath(),
               platform::kLastGoodFolder, platform_.checkContent,
               {[this](const QString& path) {
                    SetMainMovie(path);
                    ShockwaveFlash1.Rewind();
                    ShockwaveFlash1.Play();
                },
                [this] { ShowConnectingScreen(); }, [this] { UpdateContent(); },
                [this](const QString& text) { SetStatus(text); }}),
      status(platform_, *this, onAir, kContentFolder, kMainMovie, [this] {
          StatusService::WindowFigures figures;
          figures.radio.playing = RadioPlaying;
          figures.radio.source = presentation_.radioSource;
          figures.radio.retries = presentation_.radioRetries;
          figures.radio.lastReason = presentation_.radioReason;
          figures.radio.drops = presentation_.radioDrops;
          figures.updating = Updating;
          figures.powerOffTime = TxttijdUit->text();
          figures.powerOffRequested = powerOffRequested_;
          figures.statusLine = lblInfo->text();
          figures.selfCheck = selfCheck.Reasons(QDateTime::currentDateTime());
          figures.mainMovieFaults = lastGood.Faults();
          figures.mainMovieWarnings = lastGood.Warnings();
          return figures;
      }) {
    setWindowTitle(QStringLiteral("Dravonelle"));
    setAutoFillBackground(true);
    resize(platform::TwipsToPixels(10800), platform::TwipsToPixels(7785));
    BuildControls();
    ConnectEvents();
}

Form1::~Form1() {
    // The media player draws into a window of ours: stop it before that window goes.
    MediaPlayer1.SetURL(QString());
    // The players belong to the platform set; take them off the window before it goes.
    for (platform::VisualControl* control : std::initializer_list<platform::VisualControl*>{
             &ShockwaveFlash1, &ShockwaveFlash2, &MediaPlayer1}) {
        control->Widget()->setParent(nullptr);
    }
}

void Form1::BuildControls() {
    // Back to front: the photo area on the window's own surface, the players, then the
    // operator's controls in front of them.
    Image1.Widget()->setParent(this);
    Image1.SetGeometry(0, 0, 10575, 7695);

    ShockwaveFlash1.Widget()->setParent(this);
    ShockwaveFlash1.SetGeometry(0, 0, 10920, 11505);
    ShockwaveFlash1.SetMovie(QStringLiteral("download.swf"));
    ShockwaveFlash1.Play();

    ShockwaveFlash2.Widget()->setParent(this);
    ShockwaveFlash2.SetGeometry(0, 0, 10920, 11505);
    ShockwaveFlash2.SetMovie(QStringLiteral("download.swf"));
    ShockwaveFlash2.Play();
    ShockwaveFlash2.SetVisible(false);

    MediaPlayer1.Widget()->setParent(this);
    MediaPlayer1.SetGeometry(720, 3240, 2400, 2475);
    MediaPlayer1.SetStretchToFit(true);

    // The panel's design font was an 8-point sans serif (11 pixels at 96 dpi); a narrow
    // face keeps the captions within the design widths.
    extra = new QGroupBox(QStringLiteral("Instellingen"), this);
    extra->setStyleSheet(
        QStringLiteral("* { font-family: \"DejaVu Sans Condensed\", \"Liberation Sans Narrow\", "
                       "sans-serif; font-size: 11px; }"
                       "QPushButton { padding: 0px; font-size: 10px; }"));
    Place(extra, 120, 360, 5535, 3255);
    extra->setAutoFillBackground(true);
    Lokatie = new QLineEdit(platform_.endpoints.siteHost + '/', extra);
    Place(Lokatie, 960, 480, 4215, 285);
    lblinstelling[0] = Label(extra, "Site", 360, 480, 495, 255);
    TxttijdUit = new QLineEdit(QStringLiteral("22:30"), extra);
    TxttijdUit->setMaxLength(5);
    Place(TxttijdUit, 960, 840, 495, 285);
    lblinstelling[3] = Label(extra, "Afsluit tijd", 0, 840, 855, 255);
    ChkNoUpdate = new QCheckBox(QStringLiteral("Geen update"), extra);
    Place(ChkNoUpdate, 960, 1080, 1575, 255);
    lblinstelling[1] = Label(extra, "Status", 0, 1560, 735, 255);
    lblInfo = Label(extra, "", 840, 1560, 2955, 855);
    lblInfo->setStyleSheet(
        QStringLiteral("color: rgb(0,255,0); background: black;"
                       "font-family: Courier, monospace; font-size: 13px;"));
    lblInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblInfo->setWordWrap(true);
    cmdEdit = Button(extra, "EDIT", 2640, 840, 1215, 495);
    cmdEdit->setStyleSheet(QStringLiteral("font-weight: bold;"));
    FileCopyButton = Button(extra, "Bestanden copy", 3840, 840, 1215, 495);
    CmdCompUit = Button(extra, "Computer uit doen", 3840, 1440, 1215, 495);
    cmdupdate = Button(extra, "Update", 3840, 2040, 1215, 495);
    FotoOverslaan = Button(extra, "Foto Overslaan", 3840, 2640, 1215, 495);
    FitCaptions({FileCopyButton, CmdCompUit, cmdupdate, FotoOverslaan},
                extra->width() - platform::TwipsToPixels(120));
    extra->hide();

    CmdShowinstelling = Button(this, "O", 0, 0, 255, 255);
    CloseButton = Button(this, "X", 240, 0, 255, 255);
    for (QWidget* front : {static_cast<QWidget*>(extra), static_cast<QWidget*>(CloseButton),
                           static_cast<QWidget*>(CmdShowinstelling)}) {
        front->raise();
    }
    KeepControlsInFront();
}

void Form1::ConnectEvents() {
    connect(CmdShowinstelling, &QPushButton::clicked, this, [this] { CmdShowinstelling_Click(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButton_Click(); });
    Lokatie->installEventFilter(this);
    connect(TxttijdUit, &QLineEdit::textChanged, this, [this] { TxttijdUit_Change(); });
    connect(ChkNoUpdate, &QCheckBox::toggled, this, [this] { ChkNoUpdate_Click(); });
    connect(cmdEdit, &QPushButton::clicked, this, [this] { cmdEdit_Click(); });
    connect(FileCopyButton, &QPushButton::clicked, this, [this] { FileCopyButton_Click(); });
    connect(CmdCompUit, &QPushButton::clicked, this, [this] { CmdCompUit_Click(); });
    connect(cmdupdate, &QPushButton::clicked, this, [this] { cmdupdate_Click(); });
    connect(FotoOverslaan, &QPushButton::clicked, this, [this] { FotoOverslaan_Click(); });

    CheckCompUit.Tick = [this] { CheckCompUit_Timer(); };
    RadioaanTimer.Tick = [this] { RadioaanTimer_Timer(); };
    flashtimer.Tick = [this] { flashtimer_Timer(); };
    Timer1.Tick = [this] { Timer1_Timer(); };
    MemoryCeilingTimer.Tick = [this] { MemoryCeilingTimer_Timer(); };
    ShockwaveFlash1.EngineRecovered = [this](const QString& reason) {
        selfCheck.FlashEngineRecovered(ShockwaveFlash1, reason, QDateTime::currentDateTime());
    };
    ShockwaveFlash2.EngineRecovered = [this](const QString& reason) {
        selfCheck.FlashEngineRecovered(ShockwaveFlash2, reason, QDateTime::currentDateTime());
    };

    ShockwaveFlash1.MovieStarted = [this] { lastGood.Started(); };
    ShockwaveFlash1.MovieFailed = [this](const QString& reason) { lastGood.Failed(reason); };
    ShockwaveFlash1.FSCommand = [this](const QString& command, const QString& args) {
        ShockwaveFlash1_FSCommand(command, args);
    };
    MediaPlayer1.PlayStateChange = [this](int state) { MediaPlayer1_PlayStateChange(state); };
    MediaPlayer1.NowPlaying = [this](const QString& address) { MediaPlayer1_NowPlaying(address); };
    MediaPlayer1.MediaError = [this](const QString& reason) { MediaPlayer1_MediaError(reason); };
    Inet1.StateChanged = [this](const platform::Result<int>& state) { Inet1_StateChanged(state); };
    WskServer.ConnectionRequest = [this](int index, long id) {
        WskServer_ConnectionRequest(index, id);
    };
    WskServer.DataArrival = [this](int index, qint64 total) {
        WskServer_DataArrival(index, total);
    };
    WskServer.CloseEvent = [this](int index) { WskServer_Close(index); };
    WskServer.Error = [this](int index, int number, const QString& description) {
        WskServer_Error(index, number, description);
    };
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Lokatie && event->type() == QEvent::FocusOut) {
        Lokatie_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

platform::Result<> Form1::Form_Load() {
    // Without the push server's port the display is not what the station expects: stop.
    if (const auto listening = WskServer.Listen(0, platform_.pushPort); !listening) {
        return platform::Fail(QStringLiteral("cannot listen on TCP port %1: %2")
                                  .arg(platform_.pushPort)
                                  .arg(listening.reason()));
    }
    qCInfo(lcApp) << "push server listening on port" << WskServer.LocalPort(0);
    status.Start();

    // From here on a step that fails is skipped.
    auto& store = *platform_.settings;
    if (const auto stored = store.Get(kApp, kSection, "lokatie")) {
        Lokatie->setText(stored->value_or(QString()));
    } else {
        qCWarning(lcSettings) << "site location not read:" << stored.reason();
    }
    if (Lokatie->text().isEmpty()) {
        Lokatie->setText(QStringLiteral("http://") + platform_.endpoints.siteHost +
                         QStringLiteral("/test"));
        Lokatie_LostFocus();
    }
    if (const auto stored = store.Get(kApp, kSection, "compuit")) {
        TxttijdUit->setText(stored->value_or(QString()));
    } else {
        qCWarning(lcSettings) << "power-off time not read:" << stored.reason();
    }
    if (const auto read = store.Get(kApp, kSection, "update"); !read) {
        qCWarning(lcSettings) << "no-update switch not read:" << read.reason();
    } else {
        const std::optional<QString>& value = *read;
        const QString stored = value.value_or(QString());
        // A 16-bit whole number, rounded as the conversion rounds; the box takes 0, 1 or 2.
        bool ok = false;
        const double number = QLocale::c().toDouble(stored.trimmed(), &ok);
        const double rounded = std::nearbyint(number);
        if (!value) {
            // Nothing stored: the box keeps its design state.
        } else if (!ok || rounded < 0 || rounded > 2) {
            qCInfo(lcSettings) << "stored no-update switch" << stored << "not used";
        } else {
            SetNoUpdateValue(static_cast<int>(rounded));
        }
    }
    return {};
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Resize();
}

void Form1::Form_Activate() {
    auto& files = *platform_.files;
    for (const QString& folder : {kContentFolder, kContentFolder + QStringLiteral("\\fotos"),
                                  kContentFolder + QStringLiteral("\\Buffer")}) {
        if (files.FolderExists(folder)) {
            continue;
        }
        if (const auto created = files.CreateFolder(folder); !created) {
            qCWarning(lcApp).noquote()
                << "cannot create folder" << folder << QStringLiteral("(%1)").arg(created.reason());
        }
    }
    SweepTemporaries();
    lastGood.Start();
    Inet1.SetRequestTimeout(60);
    RadioPlaying = false;
    BufferPending = false;
    Updating = false;
    ShowDownloadScreen();
    UpdateContent();
    if (closing_) {
        return;
    }
    StartRadio();
}

void Form1::SweepTemporaries() {
    auto& files = *platform_.files;
    int removed = 0;
    const auto remove = [&](const QString& path) {
        if (const auto deleted = files.DeleteFile(path); !deleted) {
            qCWarning(lcApp).noquote() << "cannot remove" << path << "(" + deleted.reason() + ")";
        } else {
            ++removed;
        }
    };
    for (const QString& folder : {kContentFolder, kContentFolder + QStringLiteral("\\fotos"),
                                  kContentFolder + QStringLiteral("\\Buffer")}) {
        for (const QString& name : files.ListHiddenFiles(folder)) {
            if (platform::IsTemporaryName(name)) {
                remove(folder + '\\' + name);
            }
        }
    }
    const QString& staging = update::kStagingFolder;
    if (files.FolderExists(staging)) {
        for (const QString& name : files.ListPlainFiles(staging) + files.ListHiddenFiles(staging)) {
            remove(staging + '\\' + name);
        }
        if (const auto gone = files.RemoveFolder(staging); !gone) {
            qCWarning(lcApp).noquote() << "cannot remove" << staging << "(" + gone.reason() + ")";
        }
    }
    if (removed > 0) {
        qCInfo(lcApp) << "removed" << removed << "unfinished files of an earlier run";
    }
}

void Form1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

double Form1::WindowWidth() const {
    return frameGeometry().width() * platform::kTwipsPerPixel;
}

double Form1::WindowHeight() const {
    return frameGeometry().height() * platform::kTwipsPerPixel;
}

void Form1::Form_Resize() {
    ShockwaveFlash1.SetHeight(static_cast<float>(WindowHeight()));
    ShockwaveFlash1.SetWidth(static_cast<float>(WindowWidth()));
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        qCInfo(lcApp) << "closing";
        // What is on air is cut; the as-run log says by what.
        onAir.EndAll(powerOffRequested_ ? on_air::Outcome::kCutByPowerOff
                                        : on_air::Outcome::kCutByClose);
        if (platform_.asrun && !platform_.asrun->Flush(2000)) {
            qCWarning(lcApp) << "as-run log: not all of it reached the disk at close";
        }
        Form_QueryUnload();
        Form_Unload();
        for (VbTimer* timer : {&CheckCompUit, &RadioaanTimer, &flashtimer, &Timer1,
                               &MemoryCeilingTimer, &pushIdle_}) {
            timer->SetEnabled(false);
        }
        selfCheck.Stop();
        lastGood.Stop();
        status.Stop();
        platform::WakeWaiters();
    }
    event->accept();
}

void Form1::Form_QueryUnload() {
    for (int index = 0; index < WskServer.Count(); ++index) {
        WskServer.Close(index);
    }
    DropPushReceive();
}

void Form1::Form_Unload() {
    unsetCursor();
}

void Form1::CloseButton_Click() {
    close();
}

void Form1::KeepControlsInFront() {
    QRegion front = QRegion(CmdShowinstelling->geometry()) + CloseButton->geometry();
    if (extra->isVisible()) {
        front += extra->geometry();
    }
    MediaPlayer1.KeepClear(front);
}

void Form1::SetStatus(const QString& text) {
    lblInfo->setText(text);
    qCInfo(lcApp).noquote() << "status:" << text;
}

QString Form1::ContentPath(const QString& name) {
    return kContentFolder + '\\' + name;
}

platform::ContentCheck Form1::ContentCheckFor(
    const QString& name, std::shared_ptr<std::optional<content::Refused>> refused) {
    if (!platform_.checkContent) {
        return {};
    }
    return content::CheckFor(name, platform_.mediaProbe.get(), std::move(refused));
}
