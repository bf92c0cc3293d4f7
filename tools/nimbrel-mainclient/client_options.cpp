#include "client_options.h"

#include <QFileInfo>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "body_argument.h"
#include "mount_command.h"

namespace {

bool parseInt64(const std::string& text, std::int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || parsed < 0) return false;
    value = parsed;
    return true;
}

bool parseInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

const char* clientUsage() {
    return "usage: nimbrel-mainclient --mode N send CMD [JSON | @FILE | -]\n"
           "       nimbrel-mainclient --mode N mount|unmount PATH [--logged-out] [--no-context-menu]\n"
           "                          [--status N] [--reason N] [--no-runtime-state]\n"
           "       nimbrel-mainclient --mode N serve [--logged-out] [--no-context-menu] [--status N]\n"
           "                          [--reason N] [--no-runtime-state] [--no-desktop-app] [--silent]\n"
           "                          [--cloud DIR [--mount PATH [--poll-ms N]] [--rate BYTES_PER_S]\n"
           "                           [--fail-after BYTES] [--wrong-size] [--refuse-metadata] [--answer-delay MS]]\n"
           "  With --cloud the client serves DIR's files; with --mount too it mounts PATH and pushes DIR's\n"
           "  tree into it, then every change it sees (polled every N ms, 1000 by default).\n"
           "       nimbrel-mainclient --help | -h\n"
           "  send sends one request and prints the reply; the body is the argument, the content of FILE,\n"
           "  or standard input for -. A reply whose code is S_FAIL makes send, mount and unmount exit 1.\n"
           "  N is 0 (mounted cloud space) or 1 (sync disk).\n";
}

bool parseClientOptions(int argc, char** argv, ClientOptions& options, std::string& error) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto next = [&](int& value) {
            if (i + 1 >= args.size() || !parseInt(args[++i], value)) {
                error = arg + " needs a number";
                return false;
            }
            return true;
        };
        if (arg == "--mode") {
            if (!next(options.mode)) return false;
        } else if (arg == "--status") {
            if (!next(options.status)) return false;
        } else if (arg == "--reason") {
            if (!next(options.reason)) return false;
        } else if (arg == "--logged-out") {
            options.loggedIn = false;
        } else if (arg == "--no-context-menu") {
            options.contextMenuAllowed = false;
        } else if (arg == "--no-runtime-state") {
            options.withRuntimeState = false;
        } else if (arg == "--no-desktop-app") {
            options.desktopApp = false;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if ((arg == "--cloud" || arg == "--mount") && i + 1 < args.size()) {
            // The server runs in another folder: a relative path means the user's own.
            const std::string path = QFileInfo(QString::fromStdString(args[++i])).absoluteFilePath().toStdString();
            (arg == "--cloud" ? options.cloudDir : options.mountPath) = path;
        } else if (arg == "--poll-ms") {
            if (!next(options.pollMs) || options.pollMs <= 0) {
                error = "--poll-ms needs a positive number";
                return false;
            }
        } else if (arg == "--rate" || arg == "--fail-after") {
            auto& value =
                arg == "--rate" ? options.misbehaviour.rateBytesPerSecond : options.misbehaviour.failAfterBytes;
            if (i + 1 >= args.size() || !parseInt64(args[++i], value)) {
                error = arg + " needs a number of bytes";
                return false;
            }
        } else if (arg == "--answer-delay") {
            if (!next(options.misbehaviour.answerDelayMs)) return false;
        } else if (arg == "--wrong-size") {
            options.misbehaviour.wrongSize = true;
        } else if (arg == "--refuse-metadata") {
            options.misbehaviour.refuseMetadata = true;
        } else if (arg.rfind("--", 0) == 0) {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (options.mode != 0 && options.mode != 1) {
        error = "--mode must be 0 or 1";
        return false;
    }
    if (positional.empty()) {
        error = "missing action (send or serve)";
        return false;
    }
    options.action = positional[0];
    if (options.action == "send") {
        if (positional.size() < 2 || positional.size() > 3) {
            error = "send takes a command and an optional JSON body";
            return false;
        }
        options.command = positional[1];
        return positional.size() < 3 || readBodyArgument(positional[2], options.body, error);
    }
    if (options.action == "mount" || options.action == "unmount") return parseMountAction(positional, options, error);
    if (options.action == "serve" && positional.size() == 1) {
        if (options.cloudDir.empty() && !options.mountPath.empty()) {
            error = "--mount needs --cloud";
            return false;
        }
        return true;
    }
    error = "unknown action " + options.action;
    return false;
}
