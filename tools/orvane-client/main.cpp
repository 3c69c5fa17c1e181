#include "tools/orvane-client/ClientApplication.h"

#include <Poco/Net/Net.h>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // POCO starts Winsock by itself only in MSVC builds; elsewhere this does nothing.
    Poco::Net::initializeNetwork();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return OrvaneClient::RunClient(arguments, std::cout, std::cerr);
}
