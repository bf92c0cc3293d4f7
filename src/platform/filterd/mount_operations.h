#pragma once
// The file-system requests of a filter mount, served from the covered folder of the RootMount that
// is the session's user data. Every process but the provider gets what Windows applications get:
// reading a placeholder whose data is not local fetches the whole file first (EIO, never zeros,
// when that fails), opening for writing fetches it too and a data write clears in-sync, and the
// stand-in's token attribute can be neither seen nor set.

#include <fuse_lowlevel.h>

namespace nimbrel::platform::cf {

const fuse_lowlevel_ops& mountOperations();

}  // namespace nimbrel::platform::cf
