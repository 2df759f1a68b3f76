#include "shell/DirectoryModel.h"

#include <QMimeData>

#include "resources/Artwork.h"

namespace tess {
namespace {

QIcon entryIcon(EntryKind kind, int iconScale) {
    return artwork::treeIcon(treeImageFor(kind), treeSelectedImageFor(kind), iconScale);
}

}  // namespace

DirectoryModel::DirectoryModel(DeviceDirectory& directory, int iconScale, QObject* parent)
    : QAbstractItemModel(parent), directory_(directory) {
    drawIcons(iconScale);
    directory_.addObserver(this);
}

void DirectoryModel::drawIcons(int iconScale) {
    icons_ = {entryIcon(EntryKind::folder, iconScale), entryIcon(EntryKind::device, iconScale),
              entryIcon(EntryKind::multiDevice, iconScale)};
}

void DirectoryModel::setIconScale(int iconScale) {
    drawIcons(iconScale);
    // Every row's icon changed; the rows themselves did not.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

DirectoryModel::~DirectoryModel() {
    directory_.removeObserver(this);
}

DeviceEntry* DirectoryModel::entryOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<DeviceEntry*>(index.internalPointer()) : nullptr;
}

QModelIndex DirectoryModel::indexOf(const DeviceEntry* entry) const {
    const int row = directory_.row(entry);
    if (row < 0) {
        return {};
    }
    return createIndex(row, 0, const_cast<DeviceEntry*>(entry));
}

bool DirectoryModel::moveOnto(DeviceEntry* dragged, DeviceEntry* target) {
    if (!dragged || !target || dragged == target) {
        return false;
    }
    for (const DeviceEntry* above = directory_.parent(target); above;
         above = directory_.parent(above)) {
        if (above == dragged) {
            return false;
        }
    }
    if (target->isFolder()) {
        // The folder itself as the insert-after entry: last among its children.
        return directory_.moveEntry(dragged, target, target);
    }
    return directory_.moveEntry(dragged, directory_.parent(target), target);
}

QModelIndex DirectoryModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || (parent.isValid() && parent.column() != 0)) {
        return {};
    }
    DeviceEntry* entry = directory_.childAt(entryOf(parent), row);
    return entry ? createIndex(row, 0, entry) : QModelIndex();
}

QModelIndex DirectoryModel::parent(const QModelIndex& child) const {
    return indexOf(directory_.parent(entryOf(child)));
}

int DirectoryModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) {
        return 0;
    }
    return directory_.childCount(entryOf(parent));
}

int DirectoryModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant DirectoryModel::data(const QModelIndex& index, int role) const {
    const DeviceEntry* entry = entryOf(index);
    if (!entry) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole: return QString::fromStdU16String(entry->label());
        case Qt::DecorationRole: return icons_[static_cast<size_t>(entry->kind()) - 1];
        default: return {};
    }
}

bool DirectoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    DeviceEntry* entry = entryOf(index);
    if (!entry || role != Qt::EditRole) {
        return false;
    }
    entry->setLabel(value.toString().toStdU16String());
    directory_.notifyChanged(entry);
    return true;
}

Qt::ItemFlags DirectoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;  // no drops outside the items
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
           Qt::ItemIsDropEnabled;
}

QStringList DirectoryModel::mimeTypes() const {
    return {QString::fromLatin1(kEntryMimeType)};
}

QMimeData* DirectoryModel::mimeData(const QModelIndexList& indexes) const {
    const DeviceEntry* entry = indexes.isEmpty() ? nullptr : entryOf(indexes.first());
    if (!entry) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kEntryMimeType), QByteArray::number(entry->index()));
    return data;
}

DeviceEntry* DirectoryModel::draggedEntry(const QMimeData* data) const {
    if (!data || !data->hasFormat(QString::fromLatin1(kEntryMimeType))) {
        return nullptr;
    }
    bool ok = false;
    const uint index = data->data(QString::fromLatin1(kEntryMimeType)).toUInt(&ok);
    return ok && index < DeviceDirectory::kSlotCount
               ? directory_.entryAt(static_cast<uint16_t>(index))
               : nullptr;
}

void DirectoryModel::aboutToInsert(const DeviceEntry* parent, int row) {
    beginInsertRows(indexOf(parent), row, row);
}

void DirectoryModel::inserted(const DeviceEntry*) {
    endInsertRows();
}

void DirectoryModel::aboutToRemove(const DeviceEntry* entry) {
    const int row = directory_.row(entry);
    beginRemoveRows(indexOf(directory_.parent(entry)), row, row);
}

void DirectoryModel::removed(const DeviceEntry*, int) {
    endRemoveRows();
}

void DirectoryModel::aboutToMove(const DeviceEntry* entry, const DeviceEntry* newParent,
                                 int destinationRow) {
    const int row = directory_.row(entry);
    moveAsReset_ = !beginMoveRows(indexOf(directory_.parent(entry)), row, row, indexOf(newParent),
                                  destinationRow);
    if (moveAsReset_) {
        beginResetModel();
    }
}

void DirectoryModel::moved(const DeviceEntry*) {
    if (moveAsReset_) {
        endResetModel();
    } else {
        endMoveRows();
    }
}

void DirectoryModel::changed(const DeviceEntry* entry) {
    const QModelIndex index = indexOf(entry);
    if (index.isValid()) {
        emit dataChanged(index, index);
    }
}

void DirectoryModel::aboutToReset() {
    beginResetModel();
}

void DirectoryModel::reset() {
    endResetModel();
}

}  // namespace tess
