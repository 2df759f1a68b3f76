#pragma once

#include <array>
#include <cstdint>

#include <QDialog>
#include <QString>

class QLineEdit;

namespace tess {

// The modal "Login" dialog in which the user enters or changes one device's
// label, user name, password, address and port. It edits its own copy of the
// five values: the caller presets them, runs the dialog and reads them back
// however it was closed. OK takes the fields and checks them in the order
// label, address, password, user name, port; the first value that fails gets
// a prompt through the message sink and the focus, and the dialog stays
// open. Cancel, Escape or closing the window keep the preset values.
class DeviceEditor : public QDialog {
    Q_OBJECT

public:
    static constexpr int kLabelLimit = 31;
    static constexpr int kAddressLimit = 31;
    static constexpr int kUserNameLimit = 15;
    static constexpr int kPasswordLimit = 15;
    // The window in logical pixels (LogicalGeometry).
    static constexpr int kLogicalWidth = 240;
    static constexpr int kLogicalHeight = 230;

    // Sets the defaults: "New Device", "admin", "velum", no address, port 80.
    // `scale`: widget pixels per logical pixel.
    explicit DeviceEditor(int scale, QWidget* parent = nullptr);

    QString label() const { return label_; }
    QString userName() const { return userName_; }
    QString password() const { return password_; }
    QString address() const { return address_; }
    uint16_t port() const { return port_; }

    // Presets, taken into the fields when the dialog opens.
    void setLabel(const QString& label) { label_ = label; }
    void setUserName(const QString& userName) { userName_ = userName; }
    void setPassword(const QString& password) { password_ = password; }
    void setAddress(const QString& address) { address_ = address; }
    void setPort(uint16_t port) { port_ = port; }

    // The field widgets, for the window's own tests and for focus checks.
    QLineEdit* labelField() const { return labelEdit_; }
    QLineEdit* userNameField() const { return userNameEdit_; }
    QLineEdit* passwordField() const { return passwordEdit_; }
    QLineEdit* addressField() const { return addressEdit_; }
    QLineEdit* portField() const { return portEdit_; }

    // Reads "0" ... "65535" (surrounding blanks allowed); anything else fails.
    static bool parsePort(const QString& text, uint16_t& port);

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void loadFields();

    QString label_;
    QString userName_;
    QString password_;
    QString address_;
    uint16_t port_;

    QLineEdit* labelEdit_;
    QLineEdit* userNameEdit_;
    QLineEdit* passwordEdit_;
    QLineEdit* addressEdit_;
    QLineEdit* portEdit_;
};

}  // namespace tess
