#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct Answer {
    int exit = -1;
    QString out;
};

Answer RunProgram(const QString& program, const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(30000)) {
        return {};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}

}  // namespace

// Every program says its version and its usage, and its manual page, made from them at
// build time, names every option the usage names.
TEST(Programs, SayTheirVersionAndUsageAndHaveTheirManualPage) {
    const struct {
        const char* name;
        const char* path;
    } programs[] = {
        {"dravonelle", DRAVONELLE_BINARY},
        {"dravonelle-push", DRAVONELLE_PUSH_CLIENT},
        {"dravonelle-listing", DRAVONELLE_LISTING_TOOL},
        {"dravonelle-fleet", DRAVONELLE_FLEET_TOOL},
        {"dravonelle-asrun", DRAVONELLE_ASRUN_TOOL},
    };
    for (const auto& program : programs) {
        const Answer version = RunProgram(program.path, {"--version"});
        EXPECT_EQ(version.exit, 0) << program.name;
        EXPECT_EQ(version.out, QStringLiteral("%1 %2\n").arg(program.name, DRAVONELLE_VERSION));
        const Answer help = RunProgram(program.path, {"--help"});
        EXPECT_EQ(help.exit, 0) << program.name;
        EXPECT_TRUE(help.out.startsWith("Usage: ")) << help.out.toStdString();

        QProcess unzip;
        unzip.start("gzip",
                    {"-dc", QStringLiteral(DRAVONELLE_MANUAL_DIR "/%1.1.gz").arg(program.name)});
        ASSERT_TRUE(unzip.waitForFinished(10000));
        const QString page = QString::fromUtf8(unzip.readAllStandardOutput());
        EXPECT_TRUE(
            page.contains(QStringLiteral(".TH %1 \"1\"").arg(QString(program.name).toUpper())))
            << program.name;
        const QRegularExpression option(QStringLiteral("(?<![\\w-])--([a-z][a-z-]*)"));
        for (auto it = option.globalMatch(help.out); it.hasNext();) {
            const QString name = it.next().captured(1);
            // help2man writes a dash of an option as "\-".
            EXPECT_TRUE(page.contains("\\-\\-" + QString(name).replace('-', "\\-")))
                << program.name << " --" << name.toStdString();
        }
    }
}

// The map of the code names every folder of src/, every file of the logic and every
// platform interface, so that it does not drift from the tree.
TEST(Docs, ArchitectureMapNamesEveryFolderAndFile) {
    const QString root = QStringLiteral(DRAVONELLE_SOURCE_DIR);
    QFile mapFile(root + "/docs/architecture.md");
    ASSERT_TRUE(mapFile.open(QIODevice::ReadOnly));
    const QString map = QString::fromUtf8(mapFile.readAll());
    QStringList missing;
    QDirIterator it(root + "/src", QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next().mid(root.size() + 1);  // "src/..."
        const QFileInfo info = it.fileInfo();
        const bool adapter = path.count('/') > 2 && path.startsWith("src/platform/");
        if (info.isDir()) {
            if (!map.contains('`' + path + "/`")) {
                missing << path + '/';
            }
        } else if (!adapter && path != "src/CMakeLists.txt" &&
                   !map.contains(info.completeBaseName())) {
            missing << path;  // a logic file, or an interface: by its name
        }
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join(", ").toStdString();
}
