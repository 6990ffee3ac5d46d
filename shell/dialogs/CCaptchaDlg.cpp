#include "CCaptchaDlg.h"

#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallowdesk::shell {
namespace {

class PictureArea : public QWidget {
public:
    PictureArea(const QPixmap& picture, QWidget* parent) : QWidget(parent), m_picture(picture) {
        setObjectName(QStringLiteral("captchaPicture"));
        setMinimumSize(std::max(300, picture.width() + 20), std::max(80, picture.height() + 20));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (m_picture.isNull()) return;
        QPainter painter(this);
        painter.drawPixmap((width() - m_picture.width()) / 2, 10, m_picture);
    }

private:
    QPixmap m_picture;
};

}  // namespace

CCaptchaDlg::CCaptchaDlg(const QString& picturePath, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("captchaDialog"));
    setWindowTitle(tr("Security Check"));
    QImageReader reader(picturePath);
    reader.setDecideFormatFromContent(true);
    const QImage image = reader.read();
    if (!image.isNull()) m_picture = QPixmap::fromImage(image);

    auto* layout = new QVBoxLayout(this);
    auto* picture = new PictureArea(m_picture, this);
    picture->setAccessibleName(tr("Security code picture"));
    layout->addWidget(picture);
    auto* prompt = new QLabel(tr("Enter the code shown above:"), this);
    layout->addWidget(prompt);
    m_answer = new QLineEdit(this);
    m_answer->setObjectName(QStringLiteral("answerEdit"));
    // The prompt names the field for a screen reader.
    prompt->setBuddy(m_answer);
    layout->addWidget(m_answer);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

QString CCaptchaDlg::Answer() const {
    return m_answer->text();
}

}  // namespace tallowdesk::shell
