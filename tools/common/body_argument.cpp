#include "body_argument.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

bool readBodyArgument(const std::string& argument, std::string& body, std::string& error) {
    if (argument == "-") {
        body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            error = "cannot read the body from standard input";
            return false;
        }
        return true;
    }
    if (argument.empty() || argument[0] != '@') {
        body = argument;
        return true;
    }
    const std::string path = argument.substr(1);
    std::ifstream file(path, std::ios::binary);
    if (file) body.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file || file.bad()) {
        error = "cannot read the body from " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
