#pragma once
// Installation folders of the built executables, as users have them.

#include <string>

namespace nimbrel::test {

// The server executable of a mode: 1 is the sync disk, 0 the mounted space.
std::string serverExecutable(int mode);
// A fresh folder with nothing but the built files, as an installation would have.
std::string makeAppFolder();

}  // namespace nimbrel::test
