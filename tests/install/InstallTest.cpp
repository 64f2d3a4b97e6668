#include "Launcher.h"
#include "ToolRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Output and errors as one text, as a user would read them.
QString run(const QString& program, const QStringList& arguments)
{
    const ToolRun r = runTool(program, arguments, {.timeoutMs = 240000});
    return QString::fromLocal8Bit(r.out + r.err) + (r.exitCode == 0 ? "" : "\n(failed)");
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
    // Silent and successful: warnings and hints count as faults too.
    EXPECT_EQ(run(requireTool("desktop-file-validate"), {kDataDir + "/org.corvane.Corvane.desktop"})
                  .trimmed(),
              "");
    const QString metainfo =
        run(requireTool("appstreamcli"),
            {"validate", "--no-net", kDataDir + "/org.corvane.Corvane.metainfo.xml"});
    EXPECT_FALSE(metainfo.contains("(failed)")) << metainfo.toStdString();
}

// Installs the build into a fresh prefix and checks that a desktop finds everything there.
TEST(Install, PutsProgramToolsAndDesktopFilesInPlace)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString result =
        run(requireTool("cmake"), {"--install", CORVANE_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_FALSE(result.contains("(failed)")) << result.toStdString();

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
    EXPECT_EQ(runTool(root.filePath("bin/corvane-decode"), {"--help"}).exitCode, 0);
}

} // namespace
