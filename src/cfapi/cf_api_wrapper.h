#pragma once
// The one place where Nimbrel talks to the Cloud Files API: sync-root registration and the live
// connection, placeholders, pin and in-sync state, dehydration. Only static operations and state:
// there is at most one live connection per process.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <mutex>
#include <string>

#include "cfapi/download_metadata.h"
#include "cfapi/hard_link_repair_task.h"
#include "cfapi/known_item_state.h"
#include "cfapi/pin_state.h"
#include "cfapi/placeholder_info.h"
#include "cfapi/placeholder_item_info.h"
#include "cfapi/result.h"
#include "cfapi/scoped_handle.h"
#include "platform/cfapi.h"
#include "platform/windows.h"
#include "suite/base/x_file_info.h"

class HydrationSource;

// Recursion of a pin change, as CfSetPinState applies it.
enum PinRecursion {
    PinRecursionNone = 0,
    PinRecursionRecurse = 1,
    PinRecursionRecurseOnly = 2,
};

class CfApiWrapper {
public:
    virtual ~CfApiWrapper();

    // ---- Registration and connection ----------------------------------------------------------
    static HRESULT registerSyncRoot(const QString& path, const QString& providerName, const QString& providerVersion,
                                    const QString& clsid);
    static HRESULT unregisterSyncRoot(const QString& path);
    static void unregisterShellExtensions();
    static bool removeShellIntegrationKeys(const QString& path);
    static HRESULT connectSyncRoot(const QString& path);
    static HRESULT disconnectSyncRoot();
    static HRESULT disconnectSyncRoot(const QString& path);

    static bool registerShellIntegrationKeys(const QString& clsid, const QString& path);
    static bool retireDesktopNamespaceKey(HKEY root, const QString& key, bool view64);
    static QString getWindowsSid();
    static QString windowsErrorText(HRESULT hr);
    // "\" becomes "/", then one trailing "/" goes.
    static QString normalizeRootPath(const QString& path);

    static CF_CONNECTION_KEY connectionKey();
    static QString connectedRoot();
    static QString registeredRoot();

    // ---- Placeholder creation and conversion --------------------------------------------------
    static ScopedHandle handleForPath(const QString& path);
    // handleForPath with the caller's snapshot of the item at `path`, taken just before.
    static ScopedHandle handleForPath(const QString& path, const CXFileInfo& info);
    // `known`, when given, receives what the item is and keeps its handle open.
    static PlaceholderInfo findPlaceholderInfo(const QString& path, KnownItemState* known = nullptr);
    // The same with the caller's snapshot of the item at `path`, taken just before.
    static PlaceholderInfo findPlaceholderInfo(const QString& path, const CXFileInfo& local, KnownItemState* known);
    // `known`, when given, receives what the new placeholder is.
    static int createPlaceholderInfo(const QString& path, bool isFolder, const PlaceholderItemInfo& item, qint64 size,
                                     const QByteArray& identityUtf8, KnownItemState* known = nullptr);
    static int convertToPlaceholder(const QString& path, const PlaceholderItemInfo& item, qint64 size,
                                    const QByteArray& identityUtf8, const QString& pinSourcePath, bool* outUpdateLsid);
    static int convertToPlaceholderEx(const QString& path, const PlaceholderItemInfo& item, qint64 size,
                                      const QByteArray& identityUtf8, const QString& pinSourcePath, bool* outUpdateLsid,
                                      bool preserveNativeFileTime);
    // type 2 = folder, another value a file, negative when the caller does not know.
    static bool isTransientFile(const QString& path, int type);
    static QString toLongPath(const QString& path);
    static bool replaceFileWith(const QString& source, const QString& destination, QString* errorText);
    static QString repairTempPath(const QString& path);
    static HRESULT convertToPlaceholderRaw(const QString& path, const void* identity, DWORD identityLength);
    static int applyPinAfterConvert(const QString& path, const QByteArray& identityUtf8, const QString& pinSourcePath);

    // ---- Hard-link repair ---------------------------------------------------------------------------
    // Queues a file the filter refused for its hard links; one worker copies it apart and converts it.
    static void enqueueHardLinkRepair(const HardLinkRepairTask& task);
    // How the main client hears of repairs; until set, repairs run without notices.
    static void setHardLinkRepairNotices(HardLinkRepairNotices notices);

    // ---- Update, pin and in-sync state ----------------------------------------------------------
    static bool updateSyncState(const QString& path, CF_IN_SYNC_STATE state, CF_SET_IN_SYNC_FLAGS flags);
    // With `known` the item is not looked up again, and a pin state it already holds is not read back;
    // the pin state set here is added to it.
    static bool setPinState(const QString& path, PinState pinState, PinRecursion recursion,
                            KnownItemState* known = nullptr);
    static bool setSyncToLocalPinState(const QString& path, PinState pinState, PinRecursion recursion);
    static int setPathExcludedState(const QString& path);
    // With `known` naming a placeholder (as findPlaceholderInfo leaves it), its pin state is not read
    // again and its handle is used.
    static int updatePlaceholderInfo(const QString& path, const PlaceholderItemInfo& item, qint64 size,
                                     const QByteArray& identityUtf8, const QString& pinSourcePath,
                                     bool preserveNativeFileTime, KnownItemState* known = nullptr);
    static Result<PinState> getPinState(const QString& path);
    // 0..5, see the availability table of the context menu.
    static int availabilityState(const QString& path, bool stopEarly);
    static bool resolvesToOnlineOnly(const QString& path, PinState pin, PinState parentPin);
    static QStringList ancestorFolders(const QString& path);
    static void ensureFolderPinned(const QString& folder);
    static bool timesEqual(const FILE_BASIC_INFO& basicInfo, const CF_FS_METADATA& metadata);

    // ---- Dehydration ------------------------------------------------------------------------------
    // With `known` naming a placeholder, the path is not checked for being one.
    static int dehydratePlaceholder(const QString& path, qint64 size, const QByteArray& identityUtf8,
                                    const KnownItemState* known = nullptr);

    // ---- Callbacks of the connection --------------------------------------------------------------
    static void CALLBACK OnFetchData1(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params);
    static void CALLBACK OnCancelFetchData1(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params);
    static void CALLBACK OnNotifyFileOpenCompletion1(const CF_CALLBACK_INFO* info,
                                                     const CF_CALLBACK_PARAMETERS* params);
    // Fails a fetch request: the opening application gets an error instead of a hang.
    static void cancelTask(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey);
    // The first 4096 bytes of a larger file, filler that the download overwrites.
    static HRESULT sendImmediateAck(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey, LONGLONG fileSize);

    // ---- Hydration ----------------------------------------------------------------------------------
    // Not owned; set once before the first connection.
    static void setHydrationSource(HydrationSource* source);
    // One transfer and, when about 1 % more of the file has gone since `lastReported` (or the file
    // is complete), a progress report. `lastReported` belongs to the caller for the whole download.
    static bool cfApiSendTransferInfo(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey, NTSTATUS status,
                                      const void* buffer, LONGLONG offset, LONGLONG length, LONGLONG fileSize,
                                      LONGLONG& lastReported);
    // Waits for a hydration slot, keeping the request alive, then downloads.
    static void ExecShellFetchData(const std::string& taskId, const QString& localPath,
                                   const DownloadMetadata& metadata);
    static void InnerDownload(const std::string& taskId, const QString& localPath, const DownloadMetadata& metadata);
    // Lower-case hex text; empty when the file cannot be opened.
    static QString fileSha256(const QString& path);

private:
    static PlaceholderInfo fullPlaceholderInfo(HANDLE handle);
    // findPlaceholderInfo's read and its logging, through a handle the caller holds.
    static PlaceholderInfo basicPlaceholderInfo(HANDLE handle, const QString& path);
    // handleForPath's open of an item known to exist, `isFolder` meaning a folder that is no link.
    static ScopedHandle openExisting(const QString& path, bool isFolder);
    static QStringList ancestorFolders(const QString& path, bool isDir);

    static HydrationSource* hydrationSource;
    static CF_CONNECTION_KEY s_gConnectionKey;
    static QString connectedRootPath;
    static QString registeredRootPath;
    // The same, cleaned and with native separators, where the walk up from an item stops.
    static QString registeredRootFolder;
    // Connect calls disconnect while holding it, hence recursive.
    static std::recursive_mutex connectionMutex;
    // Registration runs on the mount task thread while pin changes read the root on other threads.
    static std::mutex registeredRootMutex;
};
