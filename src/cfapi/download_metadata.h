#pragma once
// Where a placeholder's content can be downloaded, as the main client answers it.

#include <QString>

struct DownloadMetadata {
    QString strUrl;
    QString strHashAlgorithmType;
    QString strHashValue;
    // Negative when the client gave no size.
    qint64 iFileSize = -1;
};
