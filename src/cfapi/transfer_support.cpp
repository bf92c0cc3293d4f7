#include "cfapi/transfer_support.h"

#include <QString>
#include <algorithm>

namespace transfer_support {

const BYTE* fillerBlock() {
    static const auto* block = [] {
        auto* bytes = new BYTE[kUnit];
        std::fill(bytes, bytes + kUnit, 0x55);
        return bytes;
    }();
    return block;
}

HRESULT execute(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey, NTSTATUS status, const void* buffer,
                LONGLONG offset, LONGLONG length) {
    CF_OPERATION_INFO operation{};
    operation.StructSize = 40;
    operation.Type = CF_OPERATION_TYPE_TRANSFER_DATA;
    operation.ConnectionKey = connectionKey;
    operation.TransferKey = transferKey;
    CF_OPERATION_PARAMETERS parameters{};
    parameters.ParamSize = 40;
    parameters.TransferData.Flags = CF_OPERATION_TRANSFER_DATA_FLAG_NONE;
    parameters.TransferData.CompletionStatus = status;
    parameters.TransferData.Buffer = buffer;
    parameters.TransferData.Offset.QuadPart = offset;
    parameters.TransferData.Length.QuadPart = length;
    return CfExecute(&operation, &parameters);
}

std::string taskIdOf(const CF_CALLBACK_INFO* info) {
    if (!info->FileIdentity || info->FileIdentityLength < 2) return std::string();
    const auto* units = static_cast<const char16_t*>(info->FileIdentity);
    const std::size_t count = info->FileIdentityLength / 2;
    const std::size_t length = std::find(units, units + count, u'\0') - units;
    return QString::fromUtf16(units, static_cast<int>(length)).toStdString();
}

}  // namespace transfer_support
