#include "platform/ruffle/movies.h"

namespace swf {

namespace {

// _level0.<member>
Actions& Level0Member(Actions& a, const QString& member) {
    return a.PushString("_level0").GetVariable().PushString(member).GetMember();
}

void AddCallback(Actions& a, const QString& name, const QStringList& params, const Actions& body) {
    a.DefineFunction(QString(), params, body);
    a.PushNull();
    a.PushString(name);
    a.CallMethodOn("flash.external.ExternalInterface", "addCallback", 3);
}

Actions CallOnLevel0(const QString& method, const QVariantList& args) {
    Actions a;
    for (qsizetype i = args.size() - 1; i >= 0; --i) {
        a.Push({args[i]});
    }
    a.CallMethodOn("_level0", method, static_cast<int>(args.size()));
    return a;
}

Actions ArmWatcher() {
    // The watcher's frame report: fscommand("dv:frame", current + "," + total).
    Actions report;
    report.PushString("FSCommand:dv:frame");
    Level0Member(report, "_currentframe").PushString(",").Add2();
    Level0Member(report, "_totalframes").Add2();
    report.GetUrl2();

    Actions create;
    create.Push({1048000}).PushString("__dvw");
    create.CallMethodOn("_level0", "createEmptyMovieClip", 2, true);
    create.PushString("onEnterFrame").DefineFunction(QString(), {}, report).SetMember();

    Actions notHost;  // still the host: nothing to watch yet
    notHost.Push({-1}).Return();

    Actions notLoaded;  // the real movie is still coming
    notLoaded.Push({0}).Return();

    Actions arm;
    Level0Member(arm, "dvHost")
        .Push({true})
        .Equals2()
        .Not()
        .If(static_cast<qint16>(notHost.Size()));
    arm.Append(notHost);
    arm.Push({0});
    Level0Member(arm, "_totalframes").Less2().If(static_cast<qint16>(notLoaded.Size()));
    arm.Append(notLoaded);
    Level0Member(arm, "__dvw")
        .PushUndefined()
        .Equals2()
        .Not()
        .If(static_cast<qint16>(create.Size()));
    arm.Append(create);
    Level0Member(arm, "_totalframes").Return();
    return arm;
}

}  // namespace

QByteArray HostMovie(const Header& real) {
    Actions setBody;
    setBody.PushString("_level0").GetVariable();
    setBody.PushString("n").GetVariable();
    setBody.PushString("v").GetVariable();
    setBody.SetMember();

    Actions frame;
    AddCallback(frame, "dvSet", {"n", "v"}, setBody);
    AddCallback(frame, "dvPlay", {}, CallOnLevel0("play", {}));
    AddCallback(frame, "dvStop", {}, CallOnLevel0("stop", {}));
    AddCallback(frame, "dvRewind", {}, CallOnLevel0("gotoAndStop", {1}));
    AddCallback(frame, "dvArm", {}, ArmWatcher());
    // Mark the host, so that "dvArm" knows when the real movie has taken its place.
    frame.PushString("_level0").GetVariable().PushString("dvHost").Push({true}).SetMember();
    frame.PushString("dvUrl").GetVariable().PushString("_level0").GetUrl2();
    frame.Stop();

    const QSize stage =
        real.stage.isValid() && !real.stage.isEmpty() ? real.stage.size() : QSize(800, 600);
    Writer writer(8, stage, real.frameRate > 0 ? real.frameRate : 12);
    writer.SetBackground(real.background.value_or(Qt::black));
    writer.AddActions(frame);
    writer.ShowFrame();
    return writer.Finish();
}

QByteArray DownloadMovie() {
    Writer writer(8, QSize(800, 600), 12);
    writer.SetBackground(QColor(0, 0, 0));
    writer.AddRectangle(1, QRect(100, 330, 600, 4), QColor(40, 90, 160), 1);
    writer.AddTextField(10, QRect(50, 200, 700, 80), "dvTitle", "Dravonelle", Qt::white, 48, 2);
    writer.AddTextField(20, QRect(50, 360, 700, 40), "Status", "Maakt verbinding..",
                        QColor(0, 255, 0), 24, 3);
    writer.ShowFrame();
    writer.ShowFrame();
    return writer.Finish();
}

}  // namespace swf
