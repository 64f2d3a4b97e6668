// Inputs and outputs a user can throw at the tools that are not plain files: a full disk,
// device nodes, FIFOs, endless or empty streams, damaged and lying sound files.
#include "SoundFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program of the build; stdinFile/stdoutFile redirect its standard streams.
Outcome run(const QString& program, const QStringList& args, const QString& stdinFile = {},
            const QString& stdoutFile = {})
{
    QProcess process;
    if (!stdinFile.isEmpty())
        process.setStandardInputFile(stdinFile);
    if (!stdoutFile.isEmpty())
        process.setStandardOutputFile(stdoutFile);
    process.start(QStringLiteral(CORVANE_BIN_DIR "/") + program, args);
    if (!process.waitForStarted())
        return {};
    if (stdinFile.isEmpty())
        process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {-3, {}, "timed out"};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A 64 KB tmpfs that the test fills up; unmounted when done.
class SmallDisk
{
public:
    explicit SmallDisk(const QString& where) : path_(where)
    {
        QDir().mkpath(where);
        mounted_ =
            ::mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount(QFile::encodeName(path_).constData());
    }
    bool mounted() const { return mounted_; }
    // Takes every free byte, so the next write fails with ENOSPC.
    void fill()
    {
        std::ofstream filler(QFile::encodeName(path_ + "/filler").toStdString());
        const std::string block(1024, 'x');
        while (filler.write(block.data(), 1024) && filler.flush()) {
        }
        filler.clear();
        for (int i = 0; i < 1024 && filler.put('x') && filler.flush(); ++i) {
        }
    }

private:
    QString path_;
    bool mounted_ = false;
};

// ---- Outputs: a failed write is a failed run, and the old file survives it.

enum class Target
{
    FullDisk,
    LinkToDevice,
    LinkToFifo
};

struct OutputCase
{
    const char* name;
    Target target;
    const char* program;
    QStringList args; // OUT and IN stand for the output and a short raw card
    const char* out;
    const char* message;

    friend void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }
};

using Outputs = ::testing::TestWithParam<OutputCase>;

TEST_P(Outputs, FailLoudlyAndKeepWhatWasThere)
{
    const OutputCase& c = GetParam();
    QTemporaryDir dir;
    const QString card = dir.filePath("card.u8");
    ASSERT_EQ(run("corvane-testcard", {"--seconds", "0.5", "-o", card}).exitCode, 0);
    const QString where = c.target == Target::FullDisk ? dir.filePath("disk") : dir.path();
    SmallDisk disk(c.target == Target::FullDisk ? where : QString());
    if (c.target == Target::FullDisk && !disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);

    const QString out = where + "/" + c.out;
    const QByteArray old = "the good file from before";
    if (c.target == Target::FullDisk) {
        ASSERT_TRUE(putFile(out, old));
        disk.fill();
    } else {
        QString node = "/dev/null";
        if (c.target == Target::LinkToFifo) {
            node = dir.filePath("fifo");
            ASSERT_EQ(::mkfifo(QFile::encodeName(node).constData(), 0600), 0);
        }
        ASSERT_TRUE(QFile::link(node, out));
    }
    const QStringList entries = QDir(where).entryList(QDir::AllEntries | QDir::System |
                                                      QDir::Hidden | QDir::NoDotAndDotDot);

    QStringList args;
    for (QString arg : c.args)
        args << (arg == "OUT" ? out : arg == "IN" ? card : arg);
    const Outcome r = run(c.program, args);
    EXPECT_EQ(r.exitCode, 1) << r.err.constData();
    EXPECT_TRUE(r.err.contains(c.message)) << r.err.constData();
    if (c.target == Target::FullDisk) {
        EXPECT_EQ(contents(out), old);
    } else {
        EXPECT_TRUE(QFileInfo(out).isSymLink()); // not replaced by a regular file
    }
    // No temporary file left behind.
    EXPECT_EQ(QDir(where).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                    QDir::NoDotAndDotDot),
              entries);
}

const char* const kNoSpace = "No space left on device";
const char* const kNotRegular = "is not a regular file";

INSTANTIATE_TEST_SUITE_P(Tools, Outputs,
                         ::testing::Values(OutputCase{"PictureOnFullDisk",
                                                      Target::FullDisk,
                                                      "corvane-decode",
                                                      {"-o", "OUT", "IN"},
                                                      "p.png",
                                                      kNoSpace},
                                           OutputCase{"SmallRawOnFullDisk",
                                                      Target::FullDisk,
                                                      "corvane-testcard",
                                                      {"--seconds", "0.1", "-o", "OUT"},
                                                      "c.raw",
                                                      kNoSpace},
                                           OutputCase{"LargeWavOnFullDisk",
                                                      Target::FullDisk,
                                                      "corvane-testcard",
                                                      {"--seconds", "3", "-o", "OUT"},
                                                      "c.wav",
                                                      kNoSpace},
                                           OutputCase{"PictureOverDevNull",
                                                      Target::LinkToDevice,
                                                      "corvane-decode",
                                                      {"-o", "OUT", "IN"},
                                                      "p.ppm",
                                                      kNotRegular},
                                           OutputCase{"WavOverDevNull",
                                                      Target::LinkToDevice,
                                                      "corvane-testcard",
                                                      {"-o", "OUT"},
                                                      "c.wav",
                                                      kNotRegular},
                                           OutputCase{"RawIntoFifo",
                                                      Target::LinkToFifo,
                                                      "corvane-testcard",
                                                      {"-o", "OUT"},
                                                      "c.u8",
                                                      kNotRegular},
                                           OutputCase{"PictureIntoFifo",
                                                      Target::LinkToFifo,
                                                      "corvane-decode",
                                                      {"-o", "OUT", "IN"},
                                                      "p.png",
                                                      kNotRegular}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Standard output that cannot take the text fails the run.

struct StdoutCase
{
    const char* name;
    const char* program;
    QStringList args;

    friend void PrintTo(const StdoutCase& c, std::ostream* os) { *os << c.name; }
};

using FullStdout = ::testing::TestWithParam<StdoutCase>;

TEST_P(FullStdout, FailsTheRun)
{
    const StdoutCase& c = GetParam();
    if (!QFileInfo::exists(QStringLiteral(CORVANE_BIN_DIR "/") + c.program))
        GTEST_SKIP() << c.program << " is not part of this build";
    QTemporaryDir dir;
    QStringList args;
    for (QString arg : c.args)
        args << arg.replace("DIR", dir.path());
    if (args.contains(dir.filePath("c.u8"))) {
        ASSERT_EQ(run("corvane-testcard", {"-o", dir.filePath("c.u8")}).exitCode, 0);
    }
    const Outcome r = run(c.program, args, {}, "/dev/full");
    EXPECT_EQ(r.exitCode, 1) << r.err.constData();
    EXPECT_TRUE(r.err.contains(kNoSpace)) << r.err.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Tools, FullStdout,
    ::testing::Values(StdoutCase{"DecodeHelp", "corvane-decode", {"--help"}},
                      StdoutCase{"DecodeStats", "corvane-decode", {"--stats", "DIR/c.u8"}},
                      StdoutCase{"TestCardHelp", "corvane-testcard", {"--help"}},
                      StdoutCase{"TestCardSamples", "corvane-testcard", {"-o", "-"}},
                      StdoutCase{"ReceiverHelp", "corvane", {"--help"}},
                      StdoutCase{"ReceiverVersion", "corvane", {"--version"}}),
    [](const auto& info) { return std::string(info.param.name); });

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
    const Outcome r = run("corvane-decode", {"--stats", fifo});
    writer.waitForFinished();
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["samples"].toInteger(), 14400);
}

TEST(Streams, EndlessInputStopsAtTheLimitAndEmptyInputIsAnError)
{
    const Outcome endless = run("corvane-decode", {"--max-seconds", "2", "-"}, "/dev/zero");
    EXPECT_EQ(endless.exitCode, 1);
    EXPECT_TRUE(endless.err.contains("more than the limit of 2 s")) << endless.err.constData();

    const Outcome empty = run("corvane-decode", {"-"}, "/dev/null");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(empty.err.contains("no samples in '-'")) << empty.err.constData();
    EXPECT_EQ(run("corvane-decode", {"--allow-empty", "-"}, "/dev/null").exitCode, 0);
}

// ---- Sound files that lie or break part-way.

// One second of a slow sine as 16-bit FLAC.
QByteArray flacSecond()
{
    std::vector<short> frames(28800);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<short>(12000 * std::sin(static_cast<double>(i) / 40));
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.filePath("s.flac"));
    SF_INFO info{};
    info.samplerate = 28800;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(name.constData(), SFM_WRITE, &info);
    if (!file)
        return {};
    sf_write_short(file, frames.data(), static_cast<sf_count_t>(frames.size()));
    sf_close(file);
    return contents(QFile::decodeName(name));
}

TEST(DamagedSoundFile, KeepsWhatDecodedBeforeTheDamageAndSaysSo)
{
    const QByteArray whole = flacSecond();
    ASSERT_GT(whole.size(), 1000);
    QByteArray scrambled = whole;
    for (qsizetype i = whole.size() / 2; i < whole.size() / 2 + 200; ++i)
        scrambled[i] = static_cast<char>(i * 131);
    QTemporaryDir dir;
    for (const QByteArray& damaged : {whole.left(whole.size() * 6 / 10), scrambled}) {
        ASSERT_TRUE(putFile(dir.filePath("d.flac"), damaged));
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
    // A WAV header claiming 1024 channels in front of 57 KB of data.
    QByteArray wav;
    const auto u32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
    const quint32 data = 57344;
    wav += "RIFF";
    u32(36 + data);
    wav += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1024);
    u32(8000);
    u32(8000 * 2048);
    u16(2048);
    u16(16);
    wav += "data";
    u32(data);
    wav += QByteArray(data, '\x10');
    QTemporaryDir dir;
    ASSERT_TRUE(putFile(dir.filePath("wide.wav"), wav));
    const long growth = peakGrowth([&] {
        QString error;
        EXPECT_TRUE(readSamples(dir.filePath("wide.wav"), 8000, &error)) << qPrintable(error);
    });
    if (growth < 0)
        GTEST_SKIP() << "the kernel cannot reset the peak resident size here";
    EXPECT_LT(growth, 16L << 20);
}

} // namespace
