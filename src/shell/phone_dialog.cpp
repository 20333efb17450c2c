#include "shell/phone_dialog.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <qrencode.h>

#include <memory>

namespace tallowcrest {

namespace {

constexpr int kQuietModules = 4;
constexpr int kModulePixels = 6;

}  // namespace

QImage qrCodeImage(const std::string& text, int scale)
{
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return {};
    const int side = (code->width + 2 * kQuietModules) * scale;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + kQuietModules) * scale, (y + kQuietModules) * scale, scale, scale, Qt::black);
        }
    }
    return image;
}

PhoneDialog::PhoneDialog(PhonePairing pairing, QWidget* parent)
    : QDialog(parent),
      m_pairing(std::move(pairing)),
      m_code(new QLabel(this)),
      m_url(new QLabel(this)),
      m_newCode(new QPushButton(QStringLiteral("New code"), this))
{
    setWindowTitle(QStringLiteral("Phone remote"));
    auto* hint = new QLabel(QStringLiteral("Scan the code with your phone's camera to use it as a remote. "
                                           "The phone must be on the same network."),
                            this);
    hint->setWordWrap(true);
    m_code->setAlignment(Qt::AlignCenter);
    m_code->setAccessibleName(QStringLiteral("Pairing code"));
    m_url->setAlignment(Qt::AlignCenter);
    m_url->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_url->setAccessibleName(QStringLiteral("Pairing address"));
    m_newCode->setToolTip(QStringLiteral("Unpairs every phone at once"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_newCode, QDialogButtonBox::ResetRole);
    m_newCode->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_code);
    layout->addWidget(m_url);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_newCode, &QPushButton::clicked, this, [this] {
        m_pairing.newCode();
        showPairing();
    });
    showPairing();
}

void PhoneDialog::showPairing()
{
    const std::string url = m_pairing.url();
    m_code->setPixmap(QPixmap::fromImage(qrCodeImage(url, kModulePixels)));
    m_url->setText(QString::fromStdString(url));
}

void offerPhoneRemote(QToolButton* button, QWidget* parent, PhonePairing pairing)
{
    button->show();
    QObject::connect(button, &QAbstractButton::clicked, parent, [parent, pairing = std::move(pairing)] {
        PhoneDialog dialog(pairing, parent);
        dialog.exec();
    });
}

}  // namespace tallowcrest
