#include "directory/editors/DeviceEditor.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QValidator>

#include "geometry/LogicalGeometry.h"
#include "platform/MessageSink.h"
#include "resources/Artwork.h"
#include "resources/StringTable.h"

namespace tess {

namespace {

// Refuses typing or pasting past `limit` characters. Unlike a maximum length
// it leaves a longer preset text whole and lets the user shorten it, so the
// check on OK can name the field instead of the text being cut unseen.
class LengthLimit : public QValidator {
public:
    // Owned by `edit`, whose text it compares with.
    LengthLimit(QLineEdit* edit, int limit) : QValidator(edit), edit_(edit), limit_(limit) {}

    State validate(QString& input, int&) const override {
        if (input.size() <= limit_) {
            return Acceptable;
        }
        return input.size() < edit_->text().size() ? Intermediate : Invalid;
    }

private:
    const QLineEdit* edit_;
    int limit_;
};

QLineEdit* makeTextField(QWidget* parent, int limit) {
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new LengthLimit(edit, limit));
    return edit;
}

// The row pictures are 28 logical pixels square, drawn sharp at the scale.
QLabel* makeRowPicture(QWidget* parent, artwork::EditorRow row, int scale) {
    const qreal screenRatio = parent->devicePixelRatioF();
    QPixmap pixmap = artwork::editorRowPicture(row, scale * screenRatio);
    pixmap.setDevicePixelRatio(screenRatio);
    auto* picture = new QLabel(parent);
    picture->setPixmap(pixmap);
    return picture;
}

// Logical layout: the label caption and field across the top, then one row
// per picture with its field beside it, then OK and Cancel.
constexpr int kMargin = 8;
constexpr int kInnerWidth = DeviceEditor::kLogicalWidth - 2 * kMargin;
constexpr int kFieldHeight = 22;
constexpr QRect kCaptionRect(kMargin, 6, kInnerWidth, 16);
constexpr QRect kLabelRect(kMargin, 24, kInnerWidth, kFieldHeight);
constexpr int kFirstRowTop = 54;
constexpr int kRowPitch = 34;
constexpr int kRowFieldLeft = kMargin + artwork::kEditorRowPictureSize + 8;
constexpr QRect kButtonsRect(kMargin, 194, kInnerWidth, 28);

}  // namespace

DeviceEditor::DeviceEditor(int scale, QWidget* parent)
    : QDialog(parent),
      label_(QString::fromUtf8(text::defaultDeviceLabel)),
      userName_(QString::fromUtf8(text::defaultUserName)),
      password_(QString::fromUtf8(text::defaultPassword)),
      port_(80) {
    const LogicalGeometry geometry(scale);
    setWindowTitle(QString::fromUtf8(text::deviceEditorCaption));
    geometry.fitWindow(*this, QSize(kLogicalWidth, kLogicalHeight));

    geometry.place(*new QLabel(QString::fromUtf8(text::labelCaption), this), kCaptionRect);
    labelEdit_ = makeTextField(this, kLabelLimit);
    geometry.place(*labelEdit_, kLabelRect);
    userNameEdit_ = makeTextField(this, kUserNameLimit);
    passwordEdit_ = makeTextField(this, kPasswordLimit);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    addressEdit_ = makeTextField(this, kAddressLimit);
    portEdit_ = new QLineEdit(this);
    portEdit_->setInputMethodHints(Qt::ImhDigitsOnly);

    const struct {
        artwork::EditorRow picture;
        QLineEdit* field;
    } pictureRows[] = {
        {artwork::EditorRow::UserName, userNameEdit_},
        {artwork::EditorRow::Password, passwordEdit_},
        {artwork::EditorRow::Address, addressEdit_},
        {artwork::EditorRow::Port, portEdit_},
    };
    int top = kFirstRowTop;
    for (const auto& row : pictureRows) {
        constexpr int kSide = artwork::kEditorRowPictureSize;
        geometry.place(*makeRowPicture(this, row.picture, geometry.scale()), kMargin, top, kSide,
                       kSide);
        geometry.place(*row.field, kRowFieldLeft, top + (kSide - kFieldHeight) / 2,
                       kLogicalWidth - kMargin - kRowFieldLeft, kFieldHeight);
        top += kRowPitch;
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DeviceEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DeviceEditor::reject);
    geometry.place(*buttons, kButtonsRect);
}

bool DeviceEditor::parsePort(const QString& text, uint16_t& port) {
    const QString digits = text.trimmed();
    if (digits.isEmpty()) {
        return false;
    }
    uint32_t value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(c.unicode() - u'0');
        if (value > UINT16_MAX) {
            return false;
        }
    }
    port = static_cast<uint16_t>(value);
    return true;
}

void DeviceEditor::showEvent(QShowEvent* event) {
    // Each run starts from the current values, as preset by the caller.
    if (!event->spontaneous()) {
        loadFields();
    }
    QDialog::showEvent(event);
}

void DeviceEditor::loadFields() {
    labelEdit_->setText(label_);
    userNameEdit_->setText(userName_);
    passwordEdit_->setText(password_);
    addressEdit_->setText(address_);
    portEdit_->setText(QString::number(port_));
    labelEdit_->setFocus();
}

void DeviceEditor::accept() {
    const struct {
        QLineEdit* field;
        int limit;
        std::string_view prompt;
    } textChecks[] = {
        {labelEdit_, kLabelLimit, text::textTooLong31},
        {addressEdit_, kAddressLimit, text::textTooLong31},
        {passwordEdit_, kPasswordLimit, text::textTooLong15},
        {userNameEdit_, kUserNameLimit, text::textTooLong15},
    };
    auto refuse = [](QLineEdit* field, std::string_view prompt) {
        messageSink().show(prompt);
        field->setFocus();
        field->selectAll();
    };
    for (const auto& check : textChecks) {
        if (check.field->text().size() > check.limit) {
            refuse(check.field, check.prompt);
            return;
        }
    }
    uint16_t port = 0;
    if (!parsePort(portEdit_->text(), port)) {
        refuse(portEdit_, text::portOutOfRange);
        return;
    }
    label_ = labelEdit_->text();
    address_ = addressEdit_->text();
    password_ = passwordEdit_->text();
    userName_ = userNameEdit_->text();
    port_ = port;
    QDialog::accept();
}

}  // namespace tess
