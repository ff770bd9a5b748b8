// The screenshot preview: which file shows a game, and how a picture is fitted to the control.
// GIF files go through the program's own GIF reader and are shown as they are; PNG and JPEG files
// (the emulator's snapshots, pictures people share) go through Qt's image reader and are scaled
// down to fit.
#pragma once

#include <QImage>
#include <QSize>
#include <string>

class TGifFile;
class TImage;

namespace preview {

class TPictureCache;

// The directory of the screenshots: "scrshots" of the program directory, in any letter case.
std::string ScreenshotDir(const std::string& programDir);

// The picture shown when a game has none: "notavail.gif" of the screenshot directory, in any
// letter case; the name itself when it is missing, so that loading it reports the missing file.
std::string PlaceholderPath(const std::string& programDir);

// The first of these that is a file, every name in any letter case: scrshots/GAME.gif, .png, .jpg,
// .jpeg, then EMUDIR/snap/GAME.png and EMUDIR/snap/GAME/0000.png; the placeholder when none is.
// game must be a plain file name; an empty emulatorDir has no snapshots.
std::string ScreenshotPath(const std::string& programDir, const std::string& emulatorDir, const std::string& game);

// A file that the GIF reader reads: its name ends in ".gif" in any letter case.
bool IsGifFile(const std::string& path);

// Shows the file at path in control, or the placeholder when no such file exists; PNG and JPEG
// files through pictures, which may hold them decoded already. A failed load throws and leaves
// the control as it was.
void ShowScreenshot(TGifFile& gif, TPictureCache& pictures, TImage& control, const std::string& path,
                    const std::string& placeholder);

} // namespace preview
