// Inputs and outputs a user can throw at the tools that are not plain files: a full disk,
// device nodes, FIFOs, endless or empty streams, damaged and lying sound files.
#include "SoundFile.h"
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace corvane;

namespace {

// A 64 KB tmpfs, unmounted when done.
struct SmallDisk
{
    explicit SmallDisk(const QString& where) : path(QFile::encodeName(where))
    {
        QDir().mkpath(where);
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount(path.constData());
    }
    // Takes every free byte, so the next write fails with ENOSPC.
    void fill() const
    {
        std::ofstream filler((path + "/filler").toStdString());
        while (filler.put('x') && filler.flush()) {
        }
    }
    QByteArray path;
    bool mounted = false;
};

// ---- Outputs: a failed write is a failed run, and the old file survives it.

// "TARGET OUTPUT COMMAND...": the output sits on a full disk, or is a link to a device node or a
// FIFO; OUT and IN in the command stand for the output and a short raw card.
using Outputs = ::testing::TestWithParam<const char*>;

TEST_P(Outputs, FailLoudlyAndKeepWhatWasThere)
{
    QStringList args = QString::fromLatin1(GetParam()).split(' ');
    const QString target = args.takeFirst(), name = args.takeFirst(), program = args.takeFirst();
    QTemporaryDir dir;
    const QString card = dir.filePath("card.u8");
    ASSERT_EQ(runTool("corvane-testcard", {"--seconds", "0.5", "-o", card}).exitCode, 0);
    const bool full = target == "full";
    const QString where = full ? dir.filePath("disk") : dir.path();
    const QString out = where + "/" + name;
    const QByteArray old = "the good file from before";
    std::optional<SmallDisk> disk;
    if (full) {
        if (!disk.emplace(where).mounted)
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
        ASSERT_TRUE(writeFile(out, old));
        disk->fill();
    } else {
        // A private node, never the system's /dev/null: a faulty build would replace it.
        const QString node = dir.filePath("node");
        const QByteArray path = QFile::encodeName(node);
        if (target == "fifo")
            ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
        else if (::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
        ASSERT_TRUE(QFile::link(node, out));
    }
    const QStringList entries = QDir(where).entryList(QDir::AllEntries | QDir::System |
                                                      QDir::Hidden | QDir::NoDotAndDotDot);

    for (QString& arg : args)
        arg = arg == "OUT" ? out : arg == "IN" ? card : arg;
    const ToolRun r = runTool(program, args);
    EXPECT_EQ(r.exitCode, 1) << r.err.constData();
    EXPECT_TRUE(r.err.contains(full ? "No space left on device" : "is not a regular file"))
        << r.err.constData();
    if (full) {
        EXPECT_EQ(readFile(out), old);
    } else {
        EXPECT_TRUE(QFileInfo(out).isSymLink()); // not replaced by a regular file
    }
    // No temporary file left behind.
    EXPECT_EQ(QDir(where).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                    QDir::NoDotAndDotDot),
              entries);
}

INSTANTIATE_TEST_SUITE_P(Tools, Outputs,
                         ::testing::Values("full p.png corvane-decode -o OUT IN",
                                           "full c.raw corvane-testcard --seconds 0.1 -o OUT",
                                           "full c.wav corvane-testcard --seconds 3 -o OUT",
                                           "device p.ppm corvane-decode -o OUT IN",
                                           "device c.wav corvane-testcard -o OUT",
                                           "fifo c.u8 corvane-testcard -o OUT",
                                           "fifo p.png corvane-decode -o OUT IN"));

// ---- Standard output that cannot take the text fails the run.

TEST(FullStdout, FailsTheRun)
{
    QTemporaryDir dir;
    const QString card = dir.filePath("c.u8");
    ASSERT_EQ(runTool("corvane-testcard", {"-o", card}).exitCode, 0);
    const QStringList commands[] = {
        {"corvane-decode", "--help"},   {"corvane-decode", "--stats", card},
        {"corvane-testcard", "--help"}, {"corvane-testcard", "-o", "-"},
        {"corvane", "--help"},          {"corvane", "--version"}};
    for (QStringList args : commands) {
        const QString program = args.takeFirst();
        SCOPED_TRACE(qPrintable(program + " " + args.join(' ')));
        if (!QFileInfo::exists(QStringLiteral(CORVANE_BIN_DIR "/") + program))
            continue; // the receiver is not part of a core-only build
        const ToolRun r = runTool(program, args, {.stdoutFile = "/dev/full"});
        EXPECT_EQ(r.exitCode, 1) << r.err.constData();
        EXPECT_TRUE(r.err.contains("No space left on device")) << r.err.constData();
    }
}

// ---- Streams: read to their end once, bounded, and never taken for a file with a size.

TEST(Streams, FifoInputIsReadOnceToItsEnd)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("live.u8");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // The shell opens the FIFO in the child: opening it here would wait for a reader.
    QProcess writer;
    writer.start("/bin/sh", {"-c", "exec \"$0\" --seconds 0.5 -o - > \"$1\"",
                             CORVANE_BIN_DIR "/corvane-testcard", fifo});
    const ToolRun r = runTool("corvane-decode", {"--stats", fifo});
    writer.waitForFinished();
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["samples"].toInteger(), 14400);
}

TEST(Streams, EndlessInputStopsAtTheLimitAndEmptyInputIsAnError)
{
    const ToolRun endless = runTool("corvane-decode", {"--stats", "--max-seconds", "2", "-"},
                                    {.stdinFile = "/dev/zero"});
    EXPECT_EQ(endless.exitCode, 1);
    EXPECT_TRUE(endless.err.contains("more than the limit of 2 s")) << endless.err.constData();

    const ToolRun empty = runTool("corvane-decode", {"--stats", "-"}, {.stdinFile = "/dev/null"});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(empty.err.contains("no samples in '-'")) << empty.err.constData();
    EXPECT_EQ(
        runTool("corvane-decode", {"--stats", "--allow-empty", "-"}, {.stdinFile = "/dev/null"})
            .exitCode,
        0);
}

// ---- Sound files that lie or break part-way.

// Frames of a slow sine in a 16-bit mono sound file of the given format, as its bytes.
QByteArray sineFile(int format, int frames)
{
    std::vector<short> samples(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<short>(12000 * std::sin(static_cast<double>(i) / 40));
    QTemporaryDir dir;
    SF_INFO info{0, 28800, 1, format | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(dir.filePath("s")).constData(), SFM_WRITE, &info);
    if (!file)
        return {};
    sf_write_short(file, samples.data(), frames);
    sf_close(file);
    return readFile(dir.filePath("s"));
}

TEST(DamagedSoundFile, KeepsWhatDecodedBeforeTheDamageAndSaysSo)
{
    const QByteArray whole = sineFile(SF_FORMAT_FLAC, 28800);
    ASSERT_GT(whole.size(), 1000);
    QByteArray scrambled = whole;
    for (qsizetype i = whole.size() / 2; i < whole.size() / 2 + 200; ++i)
        scrambled[i] = static_cast<char>(i * 131);
    QTemporaryDir dir;
    for (const QByteArray& damaged : {whole.left(whole.size() * 6 / 10), scrambled}) {
        ASSERT_TRUE(writeFile(dir.filePath("d.flac"), damaged));
        std::size_t kept = 0;
        QString error;
        QString warning;
        EXPECT_TRUE(streamSamples(
            dir.filePath("d.flac"), 28800,
            [&](const std::uint8_t*, std::size_t count) { kept += count; }, {}, &error, &warning))
            << qPrintable(error);
        EXPECT_GT(kept, 28800u / 4);
        EXPECT_LT(kept, 28800u);
        EXPECT_TRUE(warning.contains("damaged")) << qPrintable(warning);
    }
}

// Peak resident memory since the call, in bytes; -1 where the kernel cannot reset the peak.
long peakGrowth(const std::function<void()>& work)
{
    const auto field = [](const char* key) {
        std::ifstream status("/proc/self/status");
        std::string word;
        long value = -1;
        while (status >> word)
            if (word == key && status >> value)
                break;
        return value * 1024;
    };
    if (!std::ofstream("/proc/self/clear_refs").write("5", 1))
        return -1;
    const long before = field("VmRSS:");
    work();
    return field("VmHWM:") - before;
}

TEST(LyingSoundFile, HeaderClaimsCostNoMemory)
{
    // A 57 KB WAV whose header claims 1024 channels (byte rate and frame size to match).
    QByteArray wav = sineFile(SF_FORMAT_WAV, 28672);
    ASSERT_EQ(wav.mid(20, 4), QByteArray::fromHex("01000100"));
    wav.replace(22, 2, QByteArray::fromHex("0004"));
    wav.replace(28, 6, QByteArray::fromHex("000084030008"));
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("wide.wav"), wav));
    const long growth = peakGrowth([&] {
        QString error;
        EXPECT_TRUE(readSamples(dir.filePath("wide.wav"), 28800, &error)) << qPrintable(error);
    });
    if (growth < 0)
        GTEST_SKIP() << "the kernel cannot reset the peak resident size here";
    EXPECT_LT(growth, 16L << 20);
}

// ---- Locked decoding keeps to the same rules as the first decoder.

TEST(LockedRun, RefusesToWasteOrMixWorkAndKeepsWhatDecodedBeforeDamage)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("card.wav"), flac = dir.filePath("cut.flac");
    ASSERT_EQ(
        runTool("corvane-testcard", {"--standard", "nbtva", "--seconds", "3", "-o", wav}).exitCode,
        0);
    SF_INFO info{};
    SNDFILE* in = sf_open(QFile::encodeName(wav).constData(), SFM_READ, &info);
    ASSERT_NE(in, nullptr);
    std::vector<short> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(in, samples.data(), info.frames);
    sf_close(in);
    SF_INFO flacInfo{0, info.samplerate, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* out = sf_open(QFile::encodeName(flac).constData(), SFM_WRITE, &flacInfo);
    ASSERT_NE(out, nullptr);
    sf_write_short(out, samples.data(), info.frames);
    sf_close(out);
    QFile cut(flac);
    ASSERT_TRUE(cut.resize(cut.size() * 2 / 3));

    // Nothing asked for: a failure, not a silent success.
    EXPECT_EQ(runTool("corvane-decode", {"--locked", wav}).exitCode, 2);
    // A cut-off file gives the picture of what came before the cut, with a warning.
    const ToolRun damaged =
        runTool("corvane-decode", {"--locked", "--stats", "-o", dir.filePath("cut.png"), flac});
    ASSERT_EQ(damaged.exitCode, 0) << damaged.err.constData();
    EXPECT_TRUE(damaged.err.contains("warning")) << damaged.err.constData();
    EXPECT_TRUE(QJsonDocument::fromJson(damaged.out).object().value("locked").toBool());
    EXPECT_FALSE(QImage(dir.filePath("cut.png")).isNull());
    // Frames of an earlier run are neither overwritten nor mixed with new ones.
    const QString frames = dir.filePath("frames");
    ASSERT_EQ(runTool("corvane-decode", {"--locked", "--frames", frames, wav}).exitCode, 0);
    const QByteArray first = readFile(frames + "/frame-000001.png");
    const ToolRun again = runTool("corvane-decode", {"--locked", "--frames", frames, wav});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains("earlier run")) << again.err.constData();
    EXPECT_EQ(readFile(frames + "/frame-000001.png"), first);
    // A folder that cannot be made says why.
    const ToolRun blocked = runTool("corvane-decode", {"--locked", "--frames", wav + "/sub", wav});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_TRUE(blocked.err.contains("Not a directory")) << blocked.err.constData();
}

TEST(LockedRun, AKillWhileWritingLeavesNoTemporaryBehind)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("long.wav");
    ASSERT_EQ(
        runTool("corvane-testcard", {"--standard", "nbtva", "--seconds", "90", "-o", wav}).exitCode,
        0);
    QProcess decode;
    decode.start(QStringLiteral(CORVANE_BIN_DIR "/corvane-decode"),
                 {"--locked", "--video", dir.filePath("tv.mp4"), wav});
    ASSERT_TRUE(decode.waitForStarted());
    const auto parts = [&] { return QDir(dir.path()).entryList({"tv.mp4.part-*"}, QDir::Files); };
    for (int i = 0; i < 500 && parts().isEmpty() && decode.state() == QProcess::Running; ++i)
        QThread::msleep(10);
    ASSERT_FALSE(parts().isEmpty()) << "the video was done before it could be interrupted";
    decode.terminate();
    ASSERT_TRUE(decode.waitForFinished(10000));
    EXPECT_EQ(decode.exitStatus(), QProcess::CrashExit); // ended by the signal, as asked
    EXPECT_TRUE(parts().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("tv.mp4")));
}

} // namespace
