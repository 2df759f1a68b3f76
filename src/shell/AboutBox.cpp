#include "shell/AboutBox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "geometry/LogicalGeometry.h"
#include "resources/Artwork.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

constexpr int kIconLogicalSize = 32;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

AboutBox::AboutBox(int scale, QWidget* parent) : QDialog(parent) {
    const LogicalGeometry geometry(scale);
    setWindowTitle(qs(text::aboutCaption));
    geometry.fitWindow(*this, QSize(kLogicalWidth, kLogicalHeight));

    auto* icon = new QLabel(this);
    const int iconPixels = kIconLogicalSize * geometry.scale();
    icon->setPixmap(artwork::programIcon().pixmap(iconPixels, iconPixels));
    icon->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(qs(text::programName), this);
    name->setObjectName(QStringLiteral("productName"));
    name->setAlignment(Qt::AlignCenter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(buttons);
}

}  // namespace tess
