#pragma once
// The configuration record: every name that differs between the mounted cloud space (mode 0)
// and the sync disk (mode 1). Nothing else tests the mode to choose a name.

#include <QString>
#include <memory>

class CSyncVirtualConfig {
public:
    virtual ~CSyncVirtualConfig() = default;

    // Stores the mode, opens the log and the shared settings file. Returns 0.
    virtual int init(int mode) = 0;
    virtual QString clientAppName(bool bare) = 0;
    virtual QString serverAppName(bool bare) = 0;
    virtual QString instanceName() = 0;
    virtual QString providerId() = 0;
    virtual QString providerAccount() = 0;
    virtual QString shellFolderClsid() = 0;
    virtual QString syncRootId() = 0;
    virtual QString serverTitle() = 0;
    virtual QString displayName() = 0;
    virtual QString servicePluginChannel() = 0;
    virtual QString pluginServiceChannel() = 0;
    virtual QString socketShareName() = 0;
    virtual const wchar_t* registryRoot() = 0;

    int mode() const { return mode_; }
    bool isMountMode() const { return mode_ == 0; }

    // "<application directory, forward slashes>/log/<server name>/": where the rotating log lives.
    QString logDirectory();
    // The key mapping of the shared settings file: in mount mode every key is stored as
    // "mount_" + "_" + key, so both servers can keep their own values in one file.
    QString settingsKey(const QString& key) const;

protected:
    int initCommon(int mode);
    // Display texts are kept in the local 8-bit code page, as the shell shows them.
    static QString fromLocalCodePage(const char* text);
    int mode_ = -1;
};

class CMountDiskConfig : public CSyncVirtualConfig {
public:
    int init(int mode) override;
    QString clientAppName(bool bare) override;
    QString serverAppName(bool bare) override;
    QString instanceName() override;
    QString providerId() override;
    QString providerAccount() override;
    QString shellFolderClsid() override;
    QString syncRootId() override;
    QString serverTitle() override;
    QString displayName() override;
    QString servicePluginChannel() override;
    QString pluginServiceChannel() override;
    QString socketShareName() override;
    const wchar_t* registryRoot() override;
};

class CZiduZuduConfig : public CSyncVirtualConfig {
public:
    int init(int mode) override;
    QString clientAppName(bool bare) override;
    QString serverAppName(bool bare) override;
    QString instanceName() override;
    QString providerId() override;
    QString providerAccount() override;
    QString shellFolderClsid() override;
    QString syncRootId() override;
    QString serverTitle() override;
    QString displayName() override;
    QString servicePluginChannel() override;
    QString pluginServiceChannel() override;
    QString socketShareName() override;
    const wchar_t* registryRoot() override;
};

// The process-wide record, created by start-up and never replaced. Tests create one with
// createSyncConfig(mode) without calling init, so no log or settings file is opened.
extern std::shared_ptr<CSyncVirtualConfig>& g_syncConfig;
CSyncVirtualConfig* syncConfig();
// Creates the record for `mode` (0 or 1) into g_syncConfig; null for any other mode.
CSyncVirtualConfig* createSyncConfig(int mode);

// The folder of the host executable with a trailing "\" ("\opt\nimbrel\bin\"), as Windows text.
QString applicationDirectory();
