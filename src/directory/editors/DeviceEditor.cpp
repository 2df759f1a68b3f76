#include "directory/editors/DeviceEditor.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QValidator>

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

QLabel* makeRowPicture(QWidget* parent, artwork::EditorRow row) {
    auto* picture = new QLabel(parent);
    picture->setPixmap(artwork::editorRowPicture(row, parent->devicePixelRatioF()));
    picture->setFixedSize(artwork::kEditorRowPictureSize, artwork::kEditorRowPictureSize);
    return picture;
}

}  // namespace

DeviceEditor::DeviceEditor(QWidget* parent)
    : QDialog(parent),
      label_(QString::fromUtf8(text::defaultDeviceLabel)),
      userName_(QString::fromUtf8(text::defaultUserName)),
      password_(QString::fromUtf8(text::defaultPassword)),
      port_(80) {
    setWindowTitle(QString::fromUtf8(text::deviceEditorCaption));

    labelEdit_ = makeTextField(this, kLabelLimit);
    userNameEdit_ = makeTextField(this, kUserNameLimit);
    passwordEdit_ = makeTextField(this, kPasswordLimit);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    addressEdit_ = makeTextField(this, kAddressLimit);
    portEdit_ = new QLineEdit(this);
    portEdit_->setInputMethodHints(Qt::ImhDigitsOnly);

    auto* rows = new QGridLayout;
    rows->setHorizontalSpacing(6);
    rows->addWidget(new QLabel(QString::fromUtf8(text::labelCaption), this), 0, 0, 1, 2);
    rows->addWidget(labelEdit_, 1, 0, 1, 2);
    const struct {
        artwork::EditorRow picture;
        QLineEdit* field;
    } pictureRows[] = {
        {artwork::EditorRow::UserName, userNameEdit_},
        {artwork::EditorRow::Password, passwordEdit_},
        {artwork::EditorRow::Address, addressEdit_},
        {artwork::EditorRow::Port, portEdit_},
    };
    int line = 2;
    for (const auto& row : pictureRows) {
        rows->addWidget(makeRowPicture(this, row.picture), line, 0);
        rows->addWidget(row.field, line, 1);
        ++line;
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DeviceEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DeviceEditor::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(rows);
    layout->addStretch(1);
    layout->addWidget(buttons);
    setFixedWidth(kLogicalWidth);
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
