#include "NameClashDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Modality.h"

namespace tallowdesk::shell {

NameClashDlg::NameClashDlg(const ClashQuestion& question, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("nameClashDialog"));
    setWindowTitle(tr("Name Already Taken"));
    const QString name = QString::fromStdString(question.path.filename().string());
    const QString where = QString::fromStdString(question.path.parent_path().string());
    auto* text = new QLabel(question.folder
                                ? tr("A folder named \"%1\" already exists in %2.").arg(name, where)
                                : tr("A file named \"%1\" already exists in %2.").arg(name, where),
                            this);
    text->setObjectName(QStringLiteral("clashText"));
    text->setWordWrap(true);
    text->setMinimumWidth(380);          // long paths wrap instead of squeezing the window
    text->setTextFormat(Qt::PlainText);  // names come from the service
    m_forAll = new QCheckBox(question.folder ? tr("Do the same for &all remaining folders")
                                             : tr("Do the same for &all remaining files"),
                             this);
    m_forAll->setObjectName(QStringLiteral("forAllBox"));

    const auto button = [this](const QString& label, const char* objectName, ClashChoice choice) {
        auto* b = new QPushButton(label, this);
        b->setObjectName(QString::fromLatin1(objectName));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, choice] {
            m_choice = choice;
            accept();
        });
        return b;
    };
    // A folder is never thrown away: "replace" fills the one that is there.
    QPushButton* replace = button(question.folder ? tr("&Merge") : tr("&Replace"), "replaceButton",
                                  ClashChoice::Replace);
    QPushButton* keepBoth = button(tr("Keep &Both"), "keepBothButton", ClashChoice::KeepBoth);
    QPushButton* skip = button(tr("&Skip"), "skipButton", ClashChoice::Skip);
    keepBoth->setDefault(true);  // the choice that loses nothing

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(replace);
    buttons->addWidget(keepBoth);
    buttons->addWidget(skip);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_forAll);
    layout->addLayout(buttons);
}

ClashAnswer NameClashDlg::Answer() const {
    return ClashAnswer{result() == QDialog::Accepted ? m_choice : ClashChoice::Skip,
                       m_forAll->isChecked()};
}

ClashAnswer NameClashDlg::Ask(QWidget* parent, const ClashQuestion& question) {
    NameClashDlg dialog(question, parent);
    ExecModalToItsWindow(dialog);
    return dialog.Answer();
}

}  // namespace tallowdesk::shell
