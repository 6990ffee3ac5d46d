#pragma once

#include <QDialog>
#include <QPixmap>

class QLineEdit;

namespace tallowdesk::shell {

// "Security Check": the CAPTCHA picture, centred 10 pixels from the top, and
// the edit for its code. Only OK; Escape closes it without an answer.
// Modal, UI thread.
class CCaptchaDlg : public QDialog {
    Q_OBJECT
public:
    // Loads the picture from the file; an unreadable file shows no picture.
    CCaptchaDlg(const QString& picturePath, QWidget* parent);

    QString Answer() const;
    bool HasPicture() const { return !m_picture.isNull(); }

private:
    QPixmap m_picture;
    QLineEdit* m_answer;
};

}  // namespace tallowdesk::shell
