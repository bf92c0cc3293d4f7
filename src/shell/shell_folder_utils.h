#pragma once
// The navigation-pane folder of the mirror stays hidden: Nimbrel unpins its shell folder and
// removes its This PC entry, at start-up and whenever the main client's registry values change,
// then asks Explorer to refresh. The same pass checks, and logs, whether the client is logged in
// with its sync disk open.

#include <QString>

class ShellFolderUtils {
public:
    // Runs the readiness check, hides both entries and refreshes the shell. Always true.
    static bool checkAndSwitchShellFoler();
    // True, with the sync folder ending in "\", when the client is logged in with the sync disk
    // open and the folder carries its marker file; every failing step is logged.
    static bool checkReadyLoginAndOpenSync(QString& syncPath);
    // True when `folder` directly holds a file (not a folder) matching "*.cloudZiduZudu".
    static bool hasCloudZiduZuduMarker(const QString& folder);
    static bool setMirrorDesktopFolderVisible(bool visible);
    static bool setMirrorDriverFolderVisible(bool visible);
    static void refreshShell();

    // The registry watch: waits for the product key, then reruns checkAndSwitchShellFoler after
    // every change of the watched values. Runs for the life of the process on its own thread,
    // unless a notification cannot be armed or waited for, which ends the watching.
    static void monitorShellFolder();
};
