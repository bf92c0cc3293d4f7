#pragma once
// What the suite's main client has recorded about itself for the other programs of the suite.

#include <QString>

class AccountCommon {
public:
    // The main client's version, which it records as the value "Version" of
    // HKEY_CURRENT_USER\Software\Tellwick\Orvane (64-bit view). Empty when the client has not
    // recorded one.
    static QString getVersion();
};
