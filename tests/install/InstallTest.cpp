#include "Launcher.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString output;
};

RunResult run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(240000))
        return {-1, "did not finish: " + program};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

QString requireTool(const QString& name)
{
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        ADD_FAILURE() << name.toStdString() << " is not installed";
    return path;
}

const QString kDataDir = QStringLiteral(CORVANE_DATA_DIR);

// A clean desktop entry (hints included) keeps menus from listing us twice.
TEST(DesktopFiles, DesktopEntryAndMetainfoValidate)
{
    const RunResult entry =
        run(requireTool("desktop-file-validate"), {kDataDir + "/org.corvane.Corvane.desktop"});
    EXPECT_EQ(entry.exitCode, 0) << entry.output.toStdString();
    EXPECT_TRUE(entry.output.trimmed().isEmpty()) << entry.output.toStdString();
    const RunResult metainfo =
        run(requireTool("appstreamcli"),
            {"validate", "--no-net", kDataDir + "/org.corvane.Corvane.metainfo.xml"});
    EXPECT_EQ(metainfo.exitCode, 0) << metainfo.output.toStdString();
}

// Installs the build into a fresh prefix and checks that a desktop finds everything there.
TEST(Install, PutsProgramToolsAndDesktopFilesInPlace)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const RunResult result =
        run(requireTool("cmake"), {"--install", CORVANE_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();

    const QDir root(prefix.path());
    for (const char* program : {"bin/corvane", "bin/corvane-decode", "bin/corvane-testcard"}) {
        const QFileInfo info(root.filePath(program));
        EXPECT_TRUE(info.isFile() && info.isExecutable()) << program;
    }
    for (const char* file : {"share/applications/org.corvane.Corvane.desktop",
                             "share/metainfo/org.corvane.Corvane.metainfo.xml",
                             "share/icons/hicolor/scalable/apps/org.corvane.Corvane.svg"}) {
        EXPECT_TRUE(QFileInfo(root.filePath(file)).isFile()) << file;
    }
    // The help page is where the installed program looks for it.
    EXPECT_TRUE(QFileInfo(corvane::helpPageCandidates(root.filePath("bin/")).last()).isFile());

    bool designerPlugin = false;
    for (QDirIterator it(prefix.path(), {"*.so"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        if (it.next().contains("/plugins/designer/"))
            designerPlugin = true;
    }
    EXPECT_TRUE(designerPlugin) << "no Qt Designer plugin under plugins/designer/";

    // The installed decoder runs from its new place.
    const RunResult decode = run(root.filePath("bin/corvane-decode"), {"--help"});
    EXPECT_EQ(decode.exitCode, 0) << decode.output.toStdString();
}

} // namespace
