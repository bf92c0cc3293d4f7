#pragma once
// What the fetch callbacks need from the service side: the file's download metadata and the
// download itself. The IPC manager installs itself here; until it has, every fetch is refused.

#include <QString>
#include <string>

#include "cfapi/download_metadata.h"

class HydrationSource {
public:
    virtual ~HydrationSource() = default;

    // 0 on success.
    virtual int getDownloadMetadata(const std::string& taskId, const QString& localPath, bool* taskExists,
                                    DownloadMetadata* metadata, QString* newLsid) = 0;
    // 0 on success, -1 on failure; streams the body into the task's fetch request.
    virtual int downloadByUrl(const std::string& taskId, const QString& localPath,
                              const DownloadMetadata& metadata) = 0;
};
