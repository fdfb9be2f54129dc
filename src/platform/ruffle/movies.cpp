#include "platform/ruffle/movies.h"

#include "platform/ruffle/host_words.h"
#include "swf/abc.h"

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
    report.PushString(QStringLiteral("FSCommand:") + host_words::kFrameCommand);
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

// The host of an ActionScript 3 movie. That movie cannot take the place of an AVM1 host
// at level 0 (the engine keeps the two machines apart), so this host is ActionScript 3
// too: its main timeline is a class that loads the real movie as its child and offers the
// same operations. At every frame it reports the child's frames to the page through
// ExternalInterface.call("dvFrame", current + "," + total).
QByteArray Abc3Host() {
    abc::File f;
    const int loader = f.Public("dvLoader");
    const int content = f.Public("content");
    const int externalInterface = f.QName("flash.external", "ExternalInterface");
    // The real movie, or nothing yet, in local 1.
    const auto child = [&](abc::Code& c) -> abc::Code& {
        return c.GetLocal(0).GetProperty(loader).GetProperty(content).SetLocal(1);
    };
    const auto enter = [](abc::Code& c) -> abc::Code& { return c.GetLocal(0).PushScope(); };

    abc::Code onFrame;
    child(enter(onFrame)).GetLocal(1);
    const int noChild = onFrame.IfFalse();
    onFrame.GetLex(externalInterface).PushString(f.String(host_words::kFrameCall));
    onFrame.GetLocal(1).GetProperty(f.Public("currentFrame")).PushString(f.String(",")).Add();
    onFrame.GetLocal(1).GetProperty(f.Public("totalFrames")).Add();
    onFrame.CallPropVoid(f.Public("call"), 2).Land(noChild).ReturnVoid();

    // The real movie's frame count once it is there (a Sprite, without frames, has one),
    // else 0.
    abc::Code arm;
    child(enter(arm)).GetLocal(1);
    const int notYet = arm.IfFalse();
    arm.GetLocal(1).GetProperty(f.Public("totalFrames")).Dup();
    const int hasFrames = arm.IfTrue();
    arm.Pop().PushByte(1).Land(hasFrames).ReturnValue().Land(notYet).PushByte(0).ReturnValue();

    const auto control = [&](const QString& method, bool toFirst) {
        abc::Code c;
        child(enter(c)).GetLocal(1);
        const int none = c.IfFalse();
        c.GetLocal(1);
        if (toFirst) {
            c.PushByte(1);
        }
        c.CallPropVoid(f.Public(method), toFirst ? 1 : 0).Land(none).ReturnVoid();
        return f.Method(0, c, 3, 2);
    };

    QList<abc::File::Trait> methods = {
        {f.Public("dvOnFrame"), f.Method(1, onFrame, 6, 3)},
        {f.Public("dvArmFrames"), f.Method(0, arm, 3, 2)},
        {f.Public("dvDoPlay"), control("play", false)},
        {f.Public("dvDoStop"), control("stop", false)},
        {f.Public("dvDoRewind"), control("gotoAndStop", true)},
    };

    abc::Code ctor;
    enter(ctor).GetLocal(0).ConstructSuper(0);
    const int loaderClass = f.QName("flash.display", "Loader");
    ctor.GetLocal(0).FindPropStrict(loaderClass).ConstructProp(loaderClass, 0).InitProperty(loader);
    ctor.GetLocal(0).GetLocal(0).GetProperty(loader).CallPropVoid(f.Public("addChild"), 1);
    const int request = f.QName("flash.net", "URLRequest");
    ctor.GetLocal(0).GetProperty(loader).FindPropStrict(request);
    ctor.GetLocal(0).GetProperty(f.Public("loaderInfo")).GetProperty(f.Public("parameters"));
    ctor.GetProperty(f.Public(host_words::kUrl)).ConstructProp(request, 1);
    ctor.CallPropVoid(f.Public("load"), 1);
    ctor.GetLocal(0).PushString(f.String("enterFrame"));
    ctor.GetLocal(0).GetProperty(methods[0].name).CallPropVoid(f.Public("addEventListener"), 2);
    const QStringList callbacks = {host_words::kArm, host_words::kPlay, host_words::kStop,
                                   host_words::kRewind};
    for (qsizetype i = 0; i < callbacks.size(); ++i) {
        ctor.GetLex(externalInterface).PushString(f.String(callbacks[i]));
        ctor.GetLocal(0).GetProperty(methods[i + 1].name);
        ctor.CallPropVoid(f.Public("addCallback"), 2);
    }
    ctor.ReturnVoid();

    abc::Code classInit;
    enter(classInit).ReturnVoid();
    const int hostClass = f.Public("DvHost");
    const int movieClip = f.QName("flash.display", "MovieClip");
    f.Class(hostClass, movieClip, f.Method(0, ctor, 6, 1), methods, f.Method(0, classInit, 1, 1));

    abc::Code script;
    enter(script).GetScopeObject(0).GetLex(movieClip).NewClass(0).InitProperty(hostClass);
    f.Script(script.ReturnVoid(), 3);
    return f.Finish();
}

QSize StageOf(const Header& real) {
    return real.stage.isValid() && !real.stage.isEmpty() ? real.stage.size() : QSize(800, 600);
}

}  // namespace

QByteArray HostMovie(const Header& real) {
    if (real.actionScript3) {
        Writer writer(qMax(real.version, 10), StageOf(real),
                      real.frameRate > 0 ? real.frameRate : 24);
        writer.SetFileAttributes(true);
        writer.SetBackground(real.background.value_or(Qt::black));
        writer.AddAbc(Abc3Host(), QStringLiteral("DvHost"));
        writer.ShowFrame();
        return writer.Finish();
    }
    Actions setBody;
    setBody.PushString("_level0").GetVariable();
    setBody.PushString("n").GetVariable();
    setBody.PushString("v").GetVariable();
    setBody.SetMember();

    Actions frame;
    AddCallback(frame, host_words::kSet, {"n", "v"}, setBody);
    AddCallback(frame, host_words::kPlay, {}, CallOnLevel0("play", {}));
    AddCallback(frame, host_words::kStop, {}, CallOnLevel0("stop", {}));
    AddCallback(frame, host_words::kRewind, {}, CallOnLevel0("gotoAndStop", {1}));
    AddCallback(frame, host_words::kArm, {}, ArmWatcher());
    // Mark the host, so that "dvArm" knows when the real movie has taken its place.
    frame.PushString("_level0").GetVariable().PushString("dvHost").Push({true}).SetMember();
    frame.PushString(host_words::kUrl).GetVariable().PushString("_level0").GetUrl2();
    frame.Stop();

    Writer writer(8, StageOf(real), real.frameRate > 0 ? real.frameRate : 12);
    writer.SetBackground(real.background.value_or(Qt::black));
    writer.AddActions(frame);
    writer.ShowFrame();
    return writer.Finish();
}

}  // namespace swf
