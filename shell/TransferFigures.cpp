#include "TransferFigures.h"

#include <QCoreApplication>
#include <QLocale>

#include "model/DocEntry.h"

namespace tallowdesk::shell {
namespace {

QString TwoDigits(std::uint64_t n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString DurationText(std::uint64_t seconds) {
    if (seconds < 60) return QCoreApplication::translate("TransferFigures", "%1 s").arg(seconds);
    if (seconds < 3600)
        return QCoreApplication::translate("TransferFigures", "%1 min %2 s")
            .arg(seconds / 60)
            .arg(TwoDigits(seconds % 60));
    const std::uint64_t minutes = seconds / 60;
    return QCoreApplication::translate("TransferFigures", "%1 h %2 min")
        .arg(QLocale().toString(static_cast<qulonglong>(minutes / 60)), TwoDigits(minutes % 60));
}

QString ProgressFiguresText(std::uint64_t bytesDone, std::uint64_t bytesTotal,
                            std::uint64_t rateBytesPerMs) {
    if (bytesTotal == 0) return {};
    const std::uint64_t done = std::min(bytesDone, bytesTotal);
    // Whole per cent, rounded down: "100%" only once everything arrived.
    const auto percent = static_cast<int>(static_cast<long double>(done) * 100 / bytesTotal);
    const QString shown = QCoreApplication::translate("TransferFigures", "%1% done").arg(percent);
    if (rateBytesPerMs == 0 || done == bytesTotal) return shown;
    const std::uint64_t leftMs = (bytesTotal - done + rateBytesPerMs - 1) / rateBytesPerMs;
    return QCoreApplication::translate("TransferFigures", "%1, %2 left")
        .arg(shown, DurationText((leftMs + 999) / 1000));
}

QString HumanSizeText(const std::optional<std::string>& quotaBytesUsed) {
    if (!quotaBytesUsed || quotaBytesUsed->empty()) return {};
    const std::uint64_t n = ParseByteCount(quotaBytesUsed);
    const QLocale locale;
    const QString human = locale.formattedDataSize(
        static_cast<qint64>(std::min<std::uint64_t>(n, INT64_MAX)), 1, QLocale::DataSizeSIFormat);
    if (n < 1000) return human;  // "999 bytes" already is the exact count
    return QCoreApplication::translate("TransferFigures", "%1 (%2 bytes)")
        .arg(human, locale.toString(static_cast<qulonglong>(n)));
}

}  // namespace tallowdesk::shell
