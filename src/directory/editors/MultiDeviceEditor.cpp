#include "directory/editors/MultiDeviceEditor.h"

#include <string_view>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QTreeView>

#include "geometry/LogicalGeometry.h"
#include "platform/MessageSink.h"
#include "resources/Artwork.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

// Where a picker item keeps its entry's index.
constexpr int kIndexRole = Qt::UserRole;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isTicked(const QStandardItem& item) {
    return item.checkState() == Qt::Checked;
}

uint16_t indexOf(const QStandardItem& item) {
    return static_cast<uint16_t>(item.data(kIndexRole).toUInt());
}

// `visit` on `top` and on everything below it, each before its children.
template <typename Visit>
void forEachInSubtree(QStandardItem& top, const Visit& visit) {
    visit(top);
    for (int row = 0; row < top.rowCount(); ++row) {
        forEachInSubtree(*top.child(row), visit);
    }
}

// Logical layout: three captioned rows, the picker, then OK and Cancel.
constexpr int kMargin = 8;
constexpr int kInnerWidth = MultiDeviceEditor::kLogicalWidth - 2 * kMargin;
constexpr int kCaptionWidth = 76;
constexpr int kFieldLeft = kMargin + kCaptionWidth + 4;
constexpr int kFieldWidth = MultiDeviceEditor::kLogicalWidth - kMargin - kFieldLeft;
constexpr int kRowHeight = 22;
constexpr int kRowPitch = 26;
constexpr int kFirstRowTop = 8;
constexpr QRect kPickerRect(kMargin, kFirstRowTop + 3 * kRowPitch + 2, kInnerWidth, 136);
constexpr QRect kButtonsRect(kMargin, 232, kInnerWidth, 28);

QRect captionRect(int row) {
    return {kMargin, kFirstRowTop + row * kRowPitch, kCaptionWidth, kRowHeight};
}

QRect fieldRect(int row) {
    return {kFieldLeft, kFirstRowTop + row * kRowPitch, kFieldWidth, kRowHeight};
}

// The classic look of the main window's tree (dotted lines, boxed buttons),
// with check boxes grown by the scale like the text beside them.
class ScaledIndicators final : public QProxyStyle {
public:
    // Owns `base`.
    ScaledIndicators(QStyle* base, int scale) : QProxyStyle(base), scale_(scale) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_IndicatorWidth || metric == PM_IndicatorHeight ? value * scale_ : value;
    }

private:
    int scale_;
};

}  // namespace

// The picker's items. The view changes a check box only through setData, so
// every toggle, by mouse or key, reaches the editor's one handler; the
// handler changes the items directly, which never comes back here.
class MultiDeviceEditor::PickerModel final : public QStandardItemModel {
public:
    explicit PickerModel(MultiDeviceEditor& editor)
        : QStandardItemModel(&editor), editor_(editor) {}

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        QStandardItem* item = itemFromIndex(index);
        if (role != Qt::CheckStateRole || item == nullptr) {
            return QStandardItemModel::setData(index, value, role);
        }
        editor_.setTicked(*item, value.toInt() == Qt::Checked);
        return true;
    }

private:
    MultiDeviceEditor& editor_;
};

MultiDeviceEditor::MultiDeviceEditor(const DeviceDirectory& directory, int scale, QWidget* parent)
    : QDialog(parent),
      directory_(directory),
      label_(qs(text::defaultMultiDeviceLabel)),
      folderIcon_(artwork::treeIcon(treeImageFor(EntryKind::folder),
                                    treeSelectedImageFor(EntryKind::folder), scale)),
      deviceIcon_(artwork::treeIcon(treeImageFor(EntryKind::device),
                                    treeSelectedImageFor(EntryKind::device), scale)),
      pickerModel_(new PickerModel(*this)) {
    const LogicalGeometry geometry(scale);
    setWindowTitle(qs(text::multiDeviceEditorCaption));
    geometry.fitWindow(*this, QSize(kLogicalWidth, kLogicalHeight));

    geometry.place(*new QLabel(qs(text::labelCaption), this), captionRect(0));
    labelEdit_ = new QLineEdit(this);
    labelEdit_->setMaxLength(kLabelLimit);
    geometry.place(*labelEdit_, fieldRect(0));

    geometry.place(*new QLabel(qs(text::typeCaption), this), captionRect(1));
    typeList_ = new QComboBox(this);
    for (const std::string_view item : text::multiTypeItems) {
        typeList_->addItem(qs(item));
    }
    geometry.place(*typeList_, fieldRect(1));

    timeCaption_ = new QLabel(qs(text::displayTimeCaption), this);
    geometry.place(*timeCaption_, captionRect(2));
    timeList_ = new QComboBox(this);
    for (const std::string_view item : text::displayTimeItems) {
        timeList_->addItem(qs(item));
    }
    geometry.place(*timeList_, fieldRect(2));

    picker_ = new QTreeView(this);
    pickerStyle_ = std::make_unique<ScaledIndicators>(
        QStyleFactory::create(QStringLiteral("Windows")), geometry.scale());
    picker_->setStyle(pickerStyle_.get());
    picker_->setModel(pickerModel_);
    picker_->setHeaderHidden(true);
    picker_->setRootIsDecorated(true);
    picker_->setUniformRowHeights(true);
    picker_->setSelectionMode(QAbstractItemView::SingleSelection);
    picker_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const int imagePixels = artwork::kTreeImageSize * geometry.scale();
    picker_->setIconSize(QSize(imagePixels, imagePixels));
    picker_->setIndentation(imagePixels);
    geometry.place(*picker_, kPickerRect);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &MultiDeviceEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MultiDeviceEditor::reject);
    geometry.place(*buttons, kButtonsRect);

    // Only the user's picks arrive here: loading blocks the lists' signals.
    connect(typeList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        type_ = static_cast<uint8_t>(index);
        showTimeFor(type_);
    });
    connect(timeList_, &QComboBox::currentIndexChanged, this,
            [this](int index) { timeIndex_ = static_cast<uint8_t>(index); });
}

MultiDeviceEditor::~MultiDeviceEditor() {
    delete picker_;  // before the style it uses
}

QModelIndex MultiDeviceEditor::pickerIndexOf(uint16_t index) const {
    QStandardItem* item = index < pickerItems_.size() ? pickerItems_[index] : nullptr;
    return item ? item->index() : QModelIndex();
}

void MultiDeviceEditor::showEvent(QShowEvent* event) {
    // Each run starts from the current values, as preset by the caller.
    if (!event->spontaneous()) {
        loadFields();
    }
    QDialog::showEvent(event);
}

void MultiDeviceEditor::loadFields() {
    labelEdit_->setText(label_);
    {
        const QSignalBlocker blockType(typeList_);
        const QSignalBlocker blockTime(timeList_);
        typeList_->setCurrentIndex(type_ < typeList_->count() ? type_ : -1);
        timeList_->setCurrentIndex(timeIndex_ < timeList_->count() ? timeIndex_ : -1);
    }
    showTimeFor(type_);

    pickerModel_->clear();
    pickerItems_.fill(nullptr);
    copyTree(nullptr, *pickerModel_->invisibleRootItem());
    picker_->expandAll();

    // Only devices are ticked from the list; their folders follow them, so a
    // folder member is skipped, and a folder left empty drops out.
    QStandardItem* lastTicked = nullptr;
    for (const uint16_t member : members_) {
        QStandardItem* item = member < pickerItems_.size() ? pickerItems_[member] : nullptr;
        if (item == nullptr || !isDevice(*item)) {
            continue;
        }
        for (QStandardItem* up = item; up; up = up->parent()) {
            up->setCheckState(Qt::Checked);
        }
        lastTicked = item;
    }
    QStandardItem* current = lastTicked ? lastTicked : pickerModel_->item(0);
    if (current) {
        picker_->setCurrentIndex(current->index());
        picker_->scrollTo(current->index());
    }
    labelEdit_->setFocus();
}

void MultiDeviceEditor::copyTree(const DeviceEntry* parent, QStandardItem& into) {
    for (const DeviceEntry* entry : directory_.children(parent)) {
        if (entry->isMultiDevice()) {
            continue;
        }
        auto* item = new QStandardItem(entry->isFolder() ? folderIcon_ : deviceIcon_,
                                       QString::fromStdU16String(entry->label()));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(entry->index(), kIndexRole);
        pickerItems_[entry->index()] = item;
        into.appendRow(item);
        copyTree(entry, *item);
    }
}

void MultiDeviceEditor::showTimeFor(uint8_t type) {
    const bool quad = type == kMultiTypeQuad;
    timeCaption_->setHidden(quad);
    timeList_->setHidden(quad);
}

void MultiDeviceEditor::setTicked(QStandardItem& item, bool ticked) {
    if (isTicked(item) == ticked) {
        return;
    }
    if (ticked) {
        tick(item);
    } else {
        untick(item);
    }
}

void MultiDeviceEditor::tick(QStandardItem& item) {
    // Everything this tick changes, so that a refusal can undo exactly that.
    std::vector<QStandardItem*> newlyTicked;
    const auto tickOne = [&newlyTicked](QStandardItem& one) {
        if (!isTicked(one)) {
            one.setCheckState(Qt::Checked);
            newlyTicked.push_back(&one);
        }
    };
    for (QStandardItem* up = item.parent(); up; up = up->parent()) {
        tickOne(*up);
    }
    forEachInSubtree(item, tickOne);
    // Counted only when something is ticked: a Quad that already holds more
    // (ticked as a Switch) keeps them.
    if (type_ == kMultiTypeQuad && tickedDeviceCount() > kQuadDeviceLimit) {
        for (QStandardItem* undone : newlyTicked) {
            undone->setCheckState(Qt::Unchecked);
        }
        messageSink().show(text::quadLimit);
    }
}

void MultiDeviceEditor::untick(QStandardItem& item) {
    forEachInSubtree(item, [](QStandardItem& below) { below.setCheckState(Qt::Unchecked); });
    // A folder stays ticked while anything in it is; the folders above it
    // then stay ticked as well.
    for (QStandardItem* up = item.parent(); up; up = up->parent()) {
        for (int row = 0; row < up->rowCount(); ++row) {
            if (isTicked(*up->child(row))) {
                return;
            }
        }
        up->setCheckState(Qt::Unchecked);
    }
}

int MultiDeviceEditor::tickedDeviceCount() const {
    int count = 0;
    for (const QStandardItem* item : pickerItems_) {
        count += item && isTicked(*item) && isDevice(*item) ? 1 : 0;
    }
    return count;
}

bool MultiDeviceEditor::isDevice(const QStandardItem& item) const {
    const DeviceEntry* entry = directory_.entryAt(indexOf(item));
    return entry && entry->isDevice();
}

void MultiDeviceEditor::collectMembers(const QStandardItem& parent,
                                       std::vector<uint16_t>& out) const {
    for (int row = 0; row < parent.rowCount(); ++row) {
        const QStandardItem& child = *parent.child(row);
        if (isTicked(child)) {
            out.push_back(indexOf(child));
        }
        collectMembers(child, out);
    }
}

void MultiDeviceEditor::done(int result) {
    // Only a run that showed the picker has members to take from it.
    if (isVisible()) {
        members_.clear();
        collectMembers(*pickerModel_->invisibleRootItem(), members_);
    }
    if (result == Accepted) {
        label_ = labelEdit_->text();
    }
    QDialog::done(result);
}

}  // namespace tess
