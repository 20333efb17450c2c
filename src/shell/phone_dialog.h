#pragma once

#include <QDialog>
#include <QImage>
#include <QToolButton>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace tallowcrest {

// The phone remote's pairing, as the dialog needs it.
struct PhonePairing {
    std::function<std::string()> url;
    // Makes a new token at once, unpairing every phone.
    std::function<void()> newCode;
};

// The pairing URL as a QR code to scan and as text, and "New code".
class PhoneDialog : public QDialog {
    Q_OBJECT

public:
    explicit PhoneDialog(PhonePairing pairing, QWidget* parent = nullptr);

    QLabel* codeLabel() const { return m_code; }
    QLabel* urlLabel() const { return m_url; }
    QPushButton* newCodeButton() const { return m_newCode; }

private:
    void showPairing();

    PhonePairing m_pairing;
    QLabel* m_code;
    QLabel* m_url;
    QPushButton* m_newCode;
};

// The QR code of text, dark modules on white with the four-module quiet
// zone, each module `scale` pixels; a null image when text cannot be coded.
QImage qrCodeImage(const std::string& text, int scale);

// Shows the phone button and lets it open the dialog.
void offerPhoneRemote(QToolButton* button, QWidget* parent, PhonePairing pairing);

}  // namespace tallowcrest
