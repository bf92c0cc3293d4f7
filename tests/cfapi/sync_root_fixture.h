#pragma once
// A registered and connected sync root in a scratch folder, with helpers that speak Windows paths
// to the engine and host paths to the file system.

#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "cfapi/cf_api_wrapper.h"

class SyncRootTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // "\tmp\...\root\a\b.txt" for the host path "<root>/a/b.txt".
    QString win(const std::string& relative = {}) const;
    std::string host(const std::string& relative = {}) const;

    void makeFolder(const std::string& relative) const;
    void makeFile(const std::string& relative, const std::string& content) const;

    // A placeholder for an item that does not exist locally (created in sync, size kept, no data).
    void createFile(const std::string& relative, qint64 size, const QByteArray& identity = "id-file");
    void createFolder(const std::string& relative, const QByteArray& identity = "id-folder");

    CF_PIN_STATE pinOf(const std::string& relative) const;
    // Sets a pin state the way another tool would, straight through the platform.
    void setRawPin(const std::string& relative, CF_PIN_STATE state) const;
    DWORD attributesOf(const std::string& relative) const;
    // The last-write time every file query reports, in Unix seconds.
    qint64 lastWriteOf(const std::string& relative) const;

    std::string root_;
};

PlaceholderItemInfo itemFor(const QString& path, int type, qint64 time = 1700000000);
