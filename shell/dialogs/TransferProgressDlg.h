#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <cstdint>

#include "DialogProgressSink.h"

class QLabel;
class QListWidget;

class QProgressBar;
class QPushButton;

namespace tallowdesk::shell {

// The "Transferring Progress " window of a download or upload: file n of m,
// name, size, speed and a bar for the current file, and a details list that
// appears with the first warning or error line. Background sends the main
// window to the tray; Cancel raises transferCancel. When the transfer ends
// without detail lines the window closes by itself; otherwise a warning box
// says so and the window stays for the user to read the details.
//
// Two variants share it (CProgressDlgModeless, CProgressDlgModal); they differ
// in the warning box's caption and in what Cancel ends. UI thread.
class TransferProgressDlg : public QDialog, public TransferProgressMessages {
    Q_OBJECT
public:
    explicit TransferProgressDlg(QWidget* parent);

    // TransferProgressMessages
    void SetCurrentNumber(std::uint64_t n) override;
    void SetTotal(std::uint64_t n) override;
    void SetName(const QString& text) override;
    void SetSizeText(const QString& text) override;
    void SetRange(std::uint64_t bytes) override;
    void SetMarquee(bool on) override;
    void Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) override;
    void AddTransferDetail(const QString& text) override;
    void TransferFinished() override;

    bool DetailsShown() const;
    QStringList DetailLines() const;
    // The warning box shown at the end of a transfer with detail lines.
    QMessageBox* FinishBox() const { return m_finishBox; }

signals:
    void BackgroundRequested();
    // The transfer has ended (the quota may have changed).
    void TransferEnded();

protected:
    // Caption of the warning box at the end.
    virtual QString FinishCaption() const = 0;
    void reject() override;  // Cancel, Escape, the close button

private:
    void AnnounceCounts();
    void ToggleDetails();

    QLabel* m_current;
    QLabel* m_total;
    QLabel* m_name;
    QLabel* m_size;
    QLabel* m_speed;
    QLabel* m_figures;
    QProgressBar* m_bar;
    QPushButton* m_detailsButton;
    QLabel* m_errorText;
    QListWidget* m_details;
    QPointer<QMessageBox> m_finishBox;
    std::uint64_t m_bytes = 0;  // size of the current file, 0 when unknown
    int m_shift = 0;            // bar units are bytes >> m_shift, to fit an int
    bool m_marquee = false;
    bool m_running = true;
};

// The warning box's text.
QString TransferFinishedWithErrorsText();

}  // namespace tallowdesk::shell
