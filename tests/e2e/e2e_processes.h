#pragma once
// A server run the way users run it: beside the main client of its mode. A server that finds no
// client of its mode ends itself a few seconds after start, so every test that needs a server to
// keep running starts the client first.

#include <memory>
#include <string>

#include "support/test_env.h"

namespace nimbrel::test {

// The server executable of a mode: 1 is the sync disk, 0 the mounted space.
std::string serverExecutable(int mode);
// A fresh folder with nothing but the built files, as an installation would have.
std::string makeAppFolder();

class ServerWithClient {
public:
    // Both run from `appFolder`, an installation folder holding the built files.
    ServerWithClient(std::string appFolder, int mode);

    // Starts `nimbrel-mainclient --mode N serve`, waits until it serves under the client's process
    // name, then starts the server. False, with no server started, when the client never serves.
    bool start();

    ChildProcess& client() { return *client_; }
    ChildProcess& server() { return *server_; }
    // The client's output and errors, for failure messages.
    std::string clientOutput() const;

private:
    std::string appFolder_;
    int mode_;
    std::unique_ptr<ChildProcess> client_;
    // Declared last so that it is ended first: a server never outlives the client it watches.
    std::unique_ptr<ChildProcess> server_;
};

}  // namespace nimbrel::test
