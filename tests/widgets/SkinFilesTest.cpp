// The skin and the sounds as the build leaves them beside the programs.
#include "viewercore/widgets/SkinFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Expected {
    const char* name;
    int width;
    int height;
};

// Every bitmap the viewers load from "image", at the size they load it.
// Stretched-only bitmaps (loaded at several sizes) are checked for the
// smallest one.
const Expected kBitmaps[] = {
    {"left_top.bmp", 186, 154},
    {"left_top_group.bmp", 186, 154},
    {"left_left.bmp", 16, 20},
    {"left_right.bmp", 16, 20},
    {"left_buttom.bmp", 185, 54},
    {"ptzcontrol.bmp", 186, 207},
    {"preset.bmp", 186, 163},
    {"none.bmp", 186, 92},
    {"audio.bmp", 186, 163},
    {"top_stretch.bmp", 9, 50},
    {"bottom_right.bmp", 646, 55},
    {"schedule.bmp", 715, 242},
    {"left_top_bv.bmp", 185, 153},
    {"none_bv.bmp", 185, 103},
    {"top_bv.bmp", 730, 50},
    {"right_top.bmp", 16, 60},
    {"bottom_right_bv.bmp", 643, 55},
    {"timeline_left.bmp", 100, 40},
    {"timeline_stretch.bmp", 30, 40},
    {"timeline_right.bmp", 30, 40},
    {"top_event.bmp", 414, 76},
    {"top_stretch_event.bmp", 18, 76},
    {"top_right_event.bmp", 136, 76},
    {"event_right_stretch.bmp", 5, 3},
    {"event_bottom_stretch.bmp", 4, 12},
};

QString ProgramPath(const char* relative)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(relative));
}

uint32_t U32(const QByteArray& b, int at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8
        | static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t U16(const QByteArray& b, int at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

struct WaveInfo {
    uint32_t sampleRate = 0;
    uint16_t bits = 0;
    double seconds = 0;
    int peak = 0; // largest distance from silence, in sample units
};

// A plain 44-byte header: RIFF, WAVE, a 16-byte PCM mono fmt chunk, data.
WaveInfo ReadWave(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray b = file.readAll();
    WaveInfo info;
    if (b.size() < 44)
        return info;
    EXPECT_EQ(b.mid(0, 4), "RIFF");
    EXPECT_EQ(U32(b, 4), static_cast<uint32_t>(b.size() - 8));
    EXPECT_EQ(b.mid(8, 4), "WAVE");
    EXPECT_EQ(b.mid(12, 4), "fmt ");
    EXPECT_EQ(U32(b, 16), 16u);
    EXPECT_EQ(U16(b, 20), 1u); // PCM
    EXPECT_EQ(U16(b, 22), 1u); // mono
    info.sampleRate = U32(b, 24);
    info.bits = U16(b, 34);
    const uint16_t blockAlign = U16(b, 32);
    EXPECT_EQ(blockAlign, info.bits / 8);
    EXPECT_EQ(U32(b, 28), info.sampleRate * blockAlign);
    EXPECT_EQ(b.mid(36, 4), "data");
    const uint32_t dataBytes = U32(b, 40);
    EXPECT_LE(44 + dataBytes, static_cast<uint32_t>(b.size()));
    if (info.sampleRate == 0 || blockAlign == 0 || 44 + dataBytes > static_cast<uint32_t>(b.size()))
        return info;
    info.seconds = static_cast<double>(dataBytes / blockAlign) / info.sampleRate;
    for (uint32_t i = 0; i + blockAlign <= dataBytes; i += blockAlign) {
        const int level = blockAlign == 1 ? std::abs(static_cast<uint8_t>(b[44 + static_cast<int>(i)]) - 128)
                                          : std::abs(static_cast<int16_t>(U16(b, 44 + static_cast<int>(i))));
        info.peak = std::max(info.peak, level);
    }
    return info;
}

QString Soxi(const QString& sox, const QString& option, const QString& path)
{
    QProcess process;
    process.start(sox, {QStringLiteral("--i"), option, path});
    process.waitForFinished(10000);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

TEST(SkinFiles, EveryBitmapIsThereAtItsSizeAndIsDrawn)
{
    const QDir imageDir(ProgramPath(kSkinDirectory));
    for (const Expected& expected : kBitmaps) {
        SCOPED_TRACE(expected.name);
        const QString path = imageDir.filePath(QString::fromLatin1(expected.name));
        QImage image;
        ASSERT_TRUE(image.load(path, "BMP")) << path.toStdString();
        EXPECT_EQ(image.size(), QSize(expected.width, expected.height));
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        // Not a blank rectangle: shading at the least, pictures and text on the large ones.
        EXPECT_GE(colours.size(), image.width() * image.height() >= 2000 ? 16 : 2);
    }
}

TEST(SkinFiles, SoundsAreShortAudiblePcmWaves)
{
    const WaveInfo alarm = ReadWave(ProgramPath(kAlarmSoundFile));
    EXPECT_EQ(alarm.sampleRate, 8000u);
    EXPECT_EQ(alarm.bits, 8u);
    EXPECT_NEAR(alarm.seconds, 2.7, 0.15);
    EXPECT_GT(alarm.peak, 40);
    EXPECT_LE(alarm.peak, 127);

    const WaveInfo capture = ReadWave(ProgramPath(kCaptureSoundFile));
    EXPECT_EQ(capture.sampleRate, 11025u);
    EXPECT_EQ(capture.bits, 16u);
    EXPECT_GT(capture.seconds, 0.1);
    EXPECT_LT(capture.seconds, 1.0);
    EXPECT_GT(capture.peak, 8000);
}

TEST(SkinFiles, SoxReadsTheSounds)
{
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (sox.isEmpty())
        GTEST_SKIP() << "sox is not installed";
    const QString alarm = ProgramPath(kAlarmSoundFile);
    EXPECT_EQ(Soxi(sox, QStringLiteral("-r"), alarm), QStringLiteral("8000"));
    EXPECT_EQ(Soxi(sox, QStringLiteral("-c"), alarm), QStringLiteral("1"));
    EXPECT_EQ(Soxi(sox, QStringLiteral("-b"), alarm), QStringLiteral("8"));
    EXPECT_EQ(Soxi(sox, QStringLiteral("-e"), alarm), QStringLiteral("Unsigned Integer PCM"));
    EXPECT_NEAR(Soxi(sox, QStringLiteral("-D"), alarm).toDouble(), 2.7, 0.15);

    const QString capture = ProgramPath(kCaptureSoundFile);
    EXPECT_EQ(Soxi(sox, QStringLiteral("-r"), capture), QStringLiteral("11025"));
    EXPECT_EQ(Soxi(sox, QStringLiteral("-b"), capture), QStringLiteral("16"));
    EXPECT_EQ(Soxi(sox, QStringLiteral("-e"), capture), QStringLiteral("Signed Integer PCM"));
}
