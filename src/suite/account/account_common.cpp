#include "suite/account/account_common.h"

#include "platform/windows.h"
#include "suite/base/utility.h"

namespace {

constexpr char kClientKey[] = "Software\\Tellwick\\Orvane";
constexpr char kVersionValue[] = "Version";

}  // namespace

QString AccountCommon::getVersion() {
    const QVariant version = Utility::registryGetKeyValue(HKEY_CURRENT_USER, kClientKey, kVersionValue, true);
    return version.type() == QVariant::String ? version.toString() : QString();
}
