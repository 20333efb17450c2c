#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>

namespace tallowcrest {

// The start-up banner: a frameless modal window that goes away on a click, a
// key that types a character, or 2000 ms after it was created.
class frmSplash : public QDialog {
    Q_OBJECT

public:
    static constexpr int kShowMilliseconds = 2000;

    explicit frmSplash(QWidget* parent = nullptr);

    const QTimer& tmrSplash() const { return m_tmrSplash; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Click();
    void Form_KeyPress();
    void tmrSplash_Timer();
    void unload();

    QPixmap m_banner;
    QTimer m_tmrSplash;
};

}  // namespace tallowcrest
