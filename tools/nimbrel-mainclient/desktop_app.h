#pragma once
// The suite's desktop application, "Orvane.exe": the sync disk offers its context menu only while
// it runs. The reference client stands in for it with a child process of that name that ends with
// the client.

// False when the child could not be started.
bool startDesktopApp();
