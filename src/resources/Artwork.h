#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

// The program's own pictures, drawn in code. Sizes are logical pixels; a
// device pixel ratio above 1 gives the same picture drawn sharper. Pixmaps
// need a QGuiApplication (GUI thread only).
namespace tess::artwork {

inline constexpr int kTreeImageSize = 16;
inline constexpr int kTreeImageCount = 4;
inline constexpr int kEditorRowPictureSize = 28;

// The device tree's images; the values are their indices in treeImages().
enum class TreeImage {
    OpenFolder = 0,    // a folder while selected
    ClosedFolder = 1,  // a folder
    Device = 2,        // a recorder box
    MultiDevice = 3,   // two recorder boxes
};

QPixmap treeImage(TreeImage image, qreal devicePixelRatio = 1.0);
// All four, in index order, for the tree's image list.
QList<QPixmap> treeImages(qreal devicePixelRatio = 1.0);
// A tree item's icon from two image numbers (TreeImage values, as a record
// stores them): `image`, and `selectedImage` while the item is selected,
// whether it is expanded or not. It is 16 logical pixels square at `scale`
// widget pixels per logical pixel, drawn for the screen's pixel ratio.
QIcon treeIcon(int image, int selectedImage, int scale);

// The round pictures that caption the device editor's rows.
enum class EditorRow {
    UserName,  // a person
    Password,  // a padlock
    Address,   // the letters "IP"
    Port,      // the word "Port"
};

QPixmap editorRowPicture(EditorRow row, qreal devicePixelRatio = 1.0);

// The window icon: four picture tiles around a lens, at 16 to 256 pixels.
// The installed icon (hicolor PNGs, and the SVG beside them) is this drawing.
QIcon programIcon();
// The same drawing, `size` pixels square; needs no application object.
QImage programIconImage(int size);

}  // namespace tess::artwork
