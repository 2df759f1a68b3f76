#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <QDialog>
#include <QIcon>
#include <QString>

#include "directory/DeviceDirectory.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QStandardItem;
class QStyle;
class QTreeView;

namespace tess {

// The modal "Multi-Device" dialog in which the user names a multi-device,
// chooses Switch or Quad and a display time, and ticks its members in a copy
// of the directory's tree (folders and devices; multi-devices are left out,
// so none can be a member of another). Like the device editor it edits its
// own copy of the values: the caller presets them, runs the dialog and reads
// them back. Type and time change as soon as the user picks them and the
// members are collected however the dialog closes; the label is taken only
// on OK.
//
// Ticking an item ticks its folders above and everything below it; unticking
// one unticks everything below it and every folder above that is left with
// nothing ticked. In a Quad, a tick that leaves more than four devices ticked
// is undone whole and the user is told. A type or time byte outside the lists
// (from a damaged file) selects nothing and stays as it is unless the user
// picks; an unknown type counts as not Quad.
//
// The directory must not change while the dialog exists. GUI thread only.
class MultiDeviceEditor : public QDialog {
    Q_OBJECT

public:
    static constexpr int kLabelLimit = 31;
    static constexpr int kQuadDeviceLimit = 4;
    // The window in logical pixels (LogicalGeometry).
    static constexpr int kLogicalWidth = 240;
    static constexpr int kLogicalHeight = 268;

    // Sets the defaults: "New Multi-Device", Switch, 5 s, no members.
    // `scale`: widget pixels per logical pixel.
    MultiDeviceEditor(const DeviceDirectory& directory, int scale, QWidget* parent = nullptr);
    ~MultiDeviceEditor() override;

    QString label() const { return label_; }
    uint8_t type() const { return type_; }
    uint8_t timeIndex() const { return timeIndex_; }
    // Entry indices of every ticked item, folders included, in tree order.
    const std::vector<uint16_t>& members() const { return members_; }

    // Presets, taken into the dialog when it opens. A label is cut to 31
    // characters there.
    void setLabel(const QString& label) { label_ = label; }
    void setType(uint8_t type) { type_ = type; }
    void setTimeIndex(uint8_t timeIndex) { timeIndex_ = timeIndex; }
    // Members that name no folder or device of the directory are dropped when
    // the dialog opens; folders come back only with a ticked device in them.
    void setMembers(std::vector<uint16_t> members) { members_ = std::move(members); }

    // The widgets, for the window's own tests.
    QLineEdit* labelField() const { return labelEdit_; }
    QComboBox* typeList() const { return typeList_; }
    QComboBox* timeList() const { return timeList_; }
    QTreeView* picker() const { return picker_; }
    // The picker's item for the entry with `index`; invalid when it has none.
    QModelIndex pickerIndexOf(uint16_t index) const;

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    class PickerModel;

    void loadFields();
    void copyTree(const DeviceEntry* parent, QStandardItem& into);
    void showTimeFor(uint8_t type);
    // The one way a check box changes on the user's behalf, whatever toggled
    // it (click, double-click, Space).
    void setTicked(QStandardItem& item, bool ticked);
    void tick(QStandardItem& item);
    void untick(QStandardItem& item);
    int tickedDeviceCount() const;
    bool isDevice(const QStandardItem& item) const;
    void collectMembers(const QStandardItem& parent, std::vector<uint16_t>& out) const;

    const DeviceDirectory& directory_;
    QString label_;
    uint8_t type_ = kMultiTypeSwitch;
    uint8_t timeIndex_ = 0;
    std::vector<uint16_t> members_;

    QIcon folderIcon_;
    QIcon deviceIcon_;
    // Entry index to picker item; empty slots for multi-devices.
    std::array<QStandardItem*, DeviceDirectory::kSlotCount> pickerItems_{};
    PickerModel* pickerModel_;
    // The picker's own style (lines and expand boxes); outlives the picker.
    std::unique_ptr<QStyle> pickerStyle_;

    QLineEdit* labelEdit_;
    QComboBox* typeList_;
    QLabel* timeCaption_;
    QComboBox* timeList_;
    QTreeView* picker_;
};

}  // namespace tess
