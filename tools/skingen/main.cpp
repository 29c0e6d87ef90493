// Writes the viewers' skin bitmaps into <program dir>/image, the bitmaps the
// programs take by number into <program dir>/image/res, and the alarm and
// capture sounds into <program dir>/sound.
#include "SkinBitmaps.h"
#include "SkinSounds.h"
#include "viewercore/skinart/SkinResourceBitmaps.h"
#include "viewercore/widgets/SkinFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

// Writes one table's bitmaps; `pathOf` gives each one's place under the
// program directory.
bool WriteResources(const QDir& programDir, const std::vector<ResourceArt>& art, const SkinResource* table,
                    std::size_t count, QString (*pathOf)(int))
{
    QString problem;
    if (!ArtMatchesTable(art, table, count, &problem)) {
        std::fprintf(stderr, "skingen: %s\n", qPrintable(problem));
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const SkinResource& resource = table[i];
        const QString path = programDir.filePath(pathOf(resource.id));
        if (!QDir().mkpath(QFileInfo(path).path())
            || !RenderSkinResource(resource, *FindArt(art, resource.id)).save(path, "BMP")) {
            std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: skingen <program directory>\n");
        return 2;
    }
    // Drawing text needs a GUI application, never a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);

    const QDir programDir(QString::fromLocal8Bit(argv[1]));
    const QString imageDir = programDir.filePath(QString::fromLatin1(kSkinDirectory));
    if (!QDir().mkpath(imageDir)) {
        std::fprintf(stderr, "skingen: cannot create %s\n", qPrintable(imageDir));
        return 1;
    }
    for (const SkinBitmap& bitmap : SkinBitmaps()) {
        const QString path = QDir(imageDir).filePath(bitmap.fileName);
        if (!RenderSkinBitmap(bitmap).save(path, "BMP")) {
            std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    if (!WriteResources(programDir, ViewerResourceArt(), kViewerSkinResources, std::size(kViewerSkinResources),
                        SkinResourcePath)
        || !WriteResources(programDir, PlayerResourceArt(), kPlayerSkinResources, std::size(kPlayerSkinResources),
                           PlayerSkinResourcePath))
        return 1;

    const QString alarmPath = programDir.filePath(QString::fromLatin1(kAlarmSoundFile));
    const QString capturePath = programDir.filePath(QString::fromLatin1(kCaptureSoundFile));
    if (!QDir().mkpath(QFileInfo(alarmPath).path())) {
        std::fprintf(stderr, "skingen: cannot create the sound folder\n");
        return 1;
    }
    if (!WriteWaveFile(alarmPath.toStdString(), MakeAlarmSound())
        || !WriteWaveFile(capturePath.toStdString(), MakeCaptureSound())) {
        std::fprintf(stderr, "skingen: cannot write the sounds\n");
        return 1;
    }
    return 0;
}
