#include "ExportLoop.h"

#include "TransferNames.h"
#include "TransferOps.h"
#include "TransferProgressSink.h"

namespace tallowdesk {

bool RunExport(const ExportRequest& request, TransferOps& ops, TransferProgressSink& sink) {
    bool ok = true;
    try {
        ops.DownloadEntry(request.contentUrl, request.kind,
                          ExportPath(request.destFolder, request.title, request.format),
                          request.format, sink);
    } catch (...) {
        ok = false;
        sink.AddTransferDetail(kExportFailedText);
    }
    sink.Finished();
    return ok;
}

}  // namespace tallowdesk
