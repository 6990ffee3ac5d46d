#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

#include "DialogProgressSink.h"
#include "transfer/ExportLoop.h"

class QLabel;
class QProgressBar;

namespace tallowdesk {
class TransferOps;
}

namespace tallowdesk::shell {

// The modal "Exporting..." window of one export: a moving bar, the speed, and
// the red message "File converting failed" when the export fails (the window
// then stays open until Cancel). Starts the export when shown; closes by
// itself after a successful one. UI thread.
class CExportProgressDlg : public QDialog, public TransferProgressMessages {
    Q_OBJECT
public:
    CExportProgressDlg(ExportRequest request, std::function<std::unique_ptr<TransferOps>()> makeOps,
                       QWidget* parent);

    QString Message() const;

    // TransferProgressMessages
    void SetCurrentNumber(std::uint64_t) override {}
    void SetTotal(std::uint64_t) override {}
    void SetName(const QString&) override {}
    void SetSizeText(const QString&) override {}
    void SetRange(std::uint64_t) override {}
    void SetMarquee(bool) override {}
    void Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) override;
    void AddTransferDetail(const QString& text) override;
    void TransferFinished() override;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void StartWhenFree();

    ExportRequest m_request;
    std::function<std::unique_ptr<TransferOps>()> m_makeOps;
    QProgressBar* m_bar;
    QLabel* m_speed;
    QLabel* m_message;
    bool m_started = false;
    bool m_running = false;
    QTimer m_wait;  // while a cancelled download or upload winds down
};

}  // namespace tallowdesk::shell
