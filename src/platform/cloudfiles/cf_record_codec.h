#pragma once
// The bytes of a placeholder record as the file itself carries them, in its one extended attribute.
// They must stay small: a file system keeps a short value inside the inode (ext4 with 256-byte
// inodes: 60 bytes for this attribute's name), so that a dehydrated placeholder takes no block.
//
//   byte 0      format (1); an earlier build wrote a 32-digit hex token naming a store row instead
//   byte 1      bits 0-2 pin state, 3 in sync, 4 hydrated, 5 hydrated but not yet flushed (a boot
//               tag follows), 6 folder, 7 always full
//   byte 2      identity form: 0 its bytes, 1 one byte per UTF-16 unit (all below 0x80), 2 kept in
//               the store under a key
//   4 bytes     tag of the sync root's path (little-endian)
//   varint      device, then inode, of the file the record was made for
//   8 bytes     creation time (FILETIME ticks, little-endian)
//   varint      usn
//   4 bytes     boot tag, only with bit 5 of byte 1
//   varint      identity length, then its bytes (forms 0 and 1); the store key (form 2)

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cf_store.h"

namespace nimbrel::platform::cf {

// The longest value that stays inside an ext4 inode next to this attribute's name.
inline constexpr std::size_t kRecordInInode = 60;

// The record's bytes, with its identity in them, or with only its identityKey when `spilled`.
std::string encodeRecord(const PlaceholderRecord& record, bool spilled);
// The record the bytes describe; nullopt for bytes of no known form. `spilled` tells that the
// identity is in the store under record.identityKey (record.identity is then empty).
std::optional<PlaceholderRecord> decodeRecord(std::string_view bytes, bool& spilled);
// Whether the bytes are a token an earlier build wrote.
bool isEarlierToken(std::string_view bytes);

// The tag a record carries of the sync root at `rootPath`.
std::uint32_t rootTagOf(const std::string& rootPath);
// Whether `record` belongs to the file `st` (not a copy that took the attribute along) in the root
// at `rootPath`.
bool isRecordOf(const PlaceholderRecord& record, const std::string& rootPath, const struct ::stat& st);
// A hash of this boot of the machine.
std::uint64_t bootHash();

}  // namespace nimbrel::platform::cf
