#include "TransferProgressDlg.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>

#include "TransferFigures.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk::shell {
namespace {

QLabel* Value(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A figure, not a control: a click selects its text but does not give it
    // the focus (an empty figure would be an unnamed stop for a screen reader).
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

}  // namespace

QString TransferFinishedWithErrorsText() {
    return QCoreApplication::translate(
        "TransferProgressDlg",
        "The uploading/downloading process is finished, but errors/warnings happen. Click "
        "'Show Details' to get more information.");
}

TransferProgressDlg::TransferProgressDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("transferProgressDialog"));
    setWindowTitle(tr("Transferring Progress "));
    auto* grid = new QGridLayout;
    m_current = Value(QStringLiteral("1"), "currentNumber", this);
    m_total = Value(QStringLiteral("1"), "totalNumber", this);
    auto* counts = new QHBoxLayout;
    counts->addWidget(m_current);
    counts->addWidget(new QLabel(tr("of"), this));
    counts->addWidget(m_total);
    counts->addStretch(1);
    auto* progressTitle = new QLabel(tr("Progress:"), this);
    grid->addWidget(progressTitle, 0, 0);
    m_current->setAccessibleDescription(tr("current item"));
    m_total->setAccessibleDescription(tr("items in all"));
    grid->addLayout(counts, 0, 1);
    m_name = Value(QString(), "nameText", this);
    m_name->setMinimumWidth(360);
    m_name->setWordWrap(true);
    auto* nameTitle = new QLabel(tr("Name: "), this);
    nameTitle->setBuddy(m_name);
    grid->addWidget(nameTitle, 1, 0);
    grid->addWidget(m_name, 1, 1);
    m_size = Value(QString(), "sizeText", this);
    auto* sizeTitle = new QLabel(tr("Size:"), this);
    sizeTitle->setBuddy(m_size);
    grid->addWidget(sizeTitle, 2, 0);
    grid->addWidget(m_size, 2, 1);
    m_speed = Value(tr("Unknown"), "speedText", this);
    auto* speedTitle = new QLabel(tr("Speed:"), this);
    speedTitle->setBuddy(m_speed);
    grid->addWidget(speedTitle, 3, 0);
    grid->addWidget(m_speed, 3, 1);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setAccessibleName(tr("Progress"));
    progressTitle->setBuddy(m_bar);
    // How far the current file is and how long it still takes.
    m_figures = Value(QString(), "figuresText", this);

    m_errorText = new QLabel(
        tr("Error happened, click \"Show Details\" button to see more information"), this);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setStyleSheet(QStringLiteral("color: red; background: transparent;"));
    m_errorText->hide();

    m_detailsButton = new QPushButton(tr("Hide Details"), this);
    m_detailsButton->setObjectName(QStringLiteral("detailsButton"));
    m_detailsButton->setAutoDefault(false);
    auto* background = new QPushButton(tr("Background"), this);
    background->setObjectName(QStringLiteral("backgroundButton"));
    background->setAutoDefault(false);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_detailsButton);
    buttons->addStretch(1);
    buttons->addWidget(background);
    buttons->addWidget(cancel);

    m_details = new QListWidget(this);
    m_details->setObjectName(QStringLiteral("detailsList"));
    m_details->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_details->setMinimumHeight(120);
    m_details->setAccessibleName(tr("Details"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_bar);
    layout->addWidget(m_figures);
    layout->addWidget(m_errorText);
    layout->addLayout(buttons);
    layout->addWidget(m_details);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // As made: the details button says "Show details" and waits for the
    // first detail line; the list is folded away.
    m_detailsButton->setText(tr("Show details"));
    m_detailsButton->hide();
    m_details->hide();

    connect(m_detailsButton, &QPushButton::clicked, this, &TransferProgressDlg::ToggleDetails);
    connect(background, &QPushButton::clicked, this, &TransferProgressDlg::BackgroundRequested);
    connect(cancel, &QPushButton::clicked, this, &TransferProgressDlg::reject);
}

void TransferProgressDlg::SetCurrentNumber(std::uint64_t n) {
    m_current->setText(QString::number(n));
    AnnounceCounts();
}

void TransferProgressDlg::AnnounceCounts() {
    // The figures are read with the bar ("3 of 12"), and each change is told.
    m_bar->setAccessibleDescription(tr("%1 of %2").arg(m_current->text(), m_total->text()));
    QAccessibleEvent event(m_bar, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

void TransferProgressDlg::SetTotal(std::uint64_t n) {
    m_total->setText(QString::number(n));
    AnnounceCounts();
}

void TransferProgressDlg::SetName(const QString& text) {
    m_name->setText(text);
}

void TransferProgressDlg::SetSizeText(const QString& text) {
    m_size->setText(text);
}

void TransferProgressDlg::SetRange(std::uint64_t bytes) {
    m_bytes = bytes;
    m_figures->setText(ProgressFiguresText(0, m_bytes, 0));
    m_shift = 0;
    while ((bytes >> m_shift) > static_cast<std::uint64_t>(INT_MAX)) ++m_shift;
    m_marquee = false;
    // An empty file gets 0..1: a range of 0..0 is Qt's busy animation.
    m_bar->setRange(0, std::max(1, static_cast<int>(bytes >> m_shift)));
    m_bar->setValue(0);
}

void TransferProgressDlg::SetMarquee(bool on) {
    m_marquee = on;
    if (on) m_figures->clear();  // no size, so no share of it
    if (on) {
        m_bar->setRange(0, 0);  // a busy bar that moves by itself
    } else if (m_bar->maximum() == 0) {
        m_bar->setRange(0, 100);
        m_bar->setValue(0);
    }
}

void TransferProgressDlg::Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) {
    m_speed->setText(tr("%1 KB/s").arg(rateBytesPerMs));
    if (m_marquee) return;
    m_figures->setText(ProgressFiguresText(bytesDone, m_bytes, rateBytesPerMs));
    const auto units = bytesDone >> m_shift;
    m_bar->setValue(static_cast<int>(std::min<std::uint64_t>(units, m_bar->maximum())));
}

void TransferProgressDlg::AddTransferDetail(const QString& text) {
    m_detailsButton->show();
    m_errorText->show();
    m_details->addItem(text);
}

bool TransferProgressDlg::DetailsShown() const {
    return m_details->isVisible();
}

QStringList TransferProgressDlg::DetailLines() const {
    QStringList lines;
    for (int i = 0; i < m_details->count(); ++i) lines << m_details->item(i)->text();
    return lines;
}

void TransferProgressDlg::ToggleDetails() {
    if (m_detailsButton->text() == tr("Show details")) {
        m_detailsButton->setText(tr("Hide details"));
        m_details->show();
    } else {
        m_detailsButton->setText(tr("Show details"));
        m_details->hide();
    }
}

void TransferProgressDlg::TransferFinished() {
    m_running = false;
    // An export beside it that was cancelled too must still see the Cancel.
    if (transferCancel && exportsRunning == 0) transferCancel = false;
    const bool withDetails = !m_detailsButton->isHidden();
    // Nothing moves once the transfer has ended.
    if (m_marquee || m_bar->maximum() == 0) SetMarquee(false);
    if (withDetails) {
        // Not modal: the transfer thread is not held while the user reads
        // it. Owned by this window, modal or not: a modal one would block
        // every click on a box of its own, and a window manager stacks a
        // box of its own where it likes (openbox puts a window it does not
        // focus under the focused one: under this window).
        auto* box = new QMessageBox(QMessageBox::Warning, FinishCaption(),
                                    TransferFinishedWithErrorsText(), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("transferWarningBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        m_finishBox = box;
        box->show();
    }
    emit TransferEnded();
    if (!withDetails) accept();
}

void TransferProgressDlg::reject() {
    // Closing after the end only closes: a later transfer must not stop.
    if (m_running) transferCancel = true;
    QDialog::reject();
}

}  // namespace tallowdesk::shell
