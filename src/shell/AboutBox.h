#pragma once

#include <QDialog>

namespace tess {

// The modal About box: captioned "About", it shows the program icon and the
// product name "Tessarine". OK, Escape or the close button end it.
class AboutBox final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kLogicalWidth = 240;
    static constexpr int kLogicalHeight = 120;

    // `scale`: widget pixels per logical pixel.
    explicit AboutBox(int scale, QWidget* parent = nullptr);
};

}  // namespace tess
