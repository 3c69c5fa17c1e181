// orvane-grant-bench: the directory grant of fix-dir on a folder of many files beside a plain
// listing of the same tree (FindFirstFileExW, and the host's own walk) and beside the least any
// grant by handle must do (every entry opened once relative to its folder's handle), in the
// same run. Prints the time of each and the ratio grant / that baseline. The tree is made under
// the folder first and left there.
// Usage: orvane-grant-bench [FOLDER [FOLDERS [FILES]]] (kUsage below)

#include "core/util/WideString.h"
#include "core/windows/FolderEntries.h"
#include "core/windows/HostPath.h"
#include "core/windows/ScopedFindHandle.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"
#include "service/operations/PrivilegedOperations.h"
#include "tools/WholeNumberArgument.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void MakeTree(const std::string& hostFolder, int folders, int filesPerFolder) {
    for (int f = 0; f < folders; ++f) {
        const std::string folder = hostFolder + "/folder" + std::to_string(f);
        Poco::File(folder).createDirectories();
        for (int i = 0; i < filesPerFolder; ++i) {
            const std::string file = folder + "/file" + std::to_string(i) + ".dat";
            if (!Poco::File(file).exists()) {
                Poco::FileOutputStream(file) << "x";
            }
        }
    }
}

// Every entry below `folder` through FindFirstFileExW, as the grant's walk lists them.
size_t ListWithFind(const std::wstring& folder) {
    size_t entries = 0;
    std::vector<std::wstring> pending{folder};
    while (!pending.empty()) {
        const std::wstring directory = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW entry = {};
        OrvaneClient::ScopedFindHandle find(FindFirstFileExW((directory + L"\\*").c_str(),
                                                             FindExInfoBasic,
                                                             &entry,
                                                             FindExSearchNameMatch,
                                                             nullptr,
                                                             FIND_FIRST_EX_LARGE_FETCH));
        if (!find.isValid()) {
            continue;
        }
        do {
            const std::wstring name(entry.cFileName);
            if (name == L"." || name == L"..") {
                continue;
            }
            ++entries;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                pending.push_back(directory + L"\\" + name);
            }
        } while (FindNextFileW(find.get(), &entry));
    }
    return entries;
}

// Every entry below the held `folder`, each opened once relative to its folder's handle as the
// grant opens it (as itself, its list readable and writable), folders listed through their
// handle; nothing read or written. What a grant by handle cannot do without.
size_t OpenEachByHandle(HANDLE folder) {
    size_t entries = 0;
    std::vector<OrvaneClient::ScopedHandle> pending;
    HANDLE current = folder;
    // The folder being listed, held until the next one is.
    OrvaneClient::ScopedHandle listing;
    for (;;) {
        std::vector<OrvaneClient::FolderEntry> names;
        OrvaneClient::ListFolderEntries(current, names);
        for (const OrvaneClient::FolderEntry& entry : names) {
            const ACCESS_MASK access = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES |
                                       SYNCHRONIZE | (entry.directory ? FILE_LIST_DIRECTORY : 0);
            OrvaneClient::ScopedHandle child;
            if (!NT_SUCCESS(OrvaneClient::OpenFolderEntry(current, entry.name, access, child))) {
                continue;
            }
            ++entries;
            if (entry.directory) {
                pending.push_back(std::move(child));
            }
        }
        if (pending.empty()) {
            return entries;
        }
        listing = std::move(pending.back());
        pending.pop_back();
        current = listing.get();
    }
}

size_t ListOnHost(const std::string& hostFolder) {
    size_t entries = 0;
    std::vector<std::string> pending{hostFolder};
    while (!pending.empty()) {
        const std::string directory = pending.back();
        pending.pop_back();
        for (Poco::DirectoryIterator it(directory), end; it != end; ++it) {
            ++entries;
            if (it->isDirectory()) {
                pending.push_back(it->path());
            }
        }
    }
    return entries;
}

constexpr const char* kUsage =
    "usage: orvane-grant-bench [FOLDER [FOLDERS [FILES]]]\n"
    "Makes FOLDERS folders of FILES files under FOLDER on the emulated machine (kept), then times\n"
    "fix-dir's grant of FOLDER beside a plain listing of the tree.\n"
    "  FOLDER   a folder the grant allows, C:\\... (default C:\\Games\\GrantBench)\n"
    "  FOLDERS  1 to 100000 (default 1000)\n"
    "  FILES    files in each, 0 to 100000 (default 100)\n";

struct Arguments {
    std::string folder = "C:\\Games\\GrantBench";
    long folders = 1000;
    long filesPerFolder = 100;
};

// Empty when the command line is good; else what is wrong with which argument.
std::string Parse(int argc, char** argv, Arguments& arguments) {
    if (argc > 4) {
        return "unexpected argument " + std::string(argv[4]);
    }
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') {
            return "unknown option " + std::string(argv[i]);
        }
    }
    if (argc > 1) {
        arguments.folder = argv[1];
        const std::string& folder = arguments.folder;
        // Only a drive's folder maps onto the host; anything else would land beside the program.
        if (folder.size() < 4 || !std::isalpha(static_cast<unsigned char>(folder[0])) ||
            folder[1] != ':' || folder[2] != '\\') {
            return "FOLDER must be a folder on a drive, such as C:\\Games\\GrantBench, not '" +
                   folder + "'";
        }
    }
    std::string problem;
    if (argc > 2) {
        problem = OrvaneTools::ParseWholeNumber("FOLDERS", argv[2], 1, 100000, arguments.folders);
    }
    if (problem.empty() && argc > 3) {
        problem =
            OrvaneTools::ParseWholeNumber("FILES", argv[3], 0, 100000, arguments.filesPerFolder);
    }
    return problem;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "-h" || std::string(argv[i]) == "--help") {
            std::fputs(kUsage, stdout);
            return EXIT_SUCCESS;
        }
    }
    Arguments arguments;
    if (const std::string problem = Parse(argc, argv, arguments); !problem.empty()) {
        std::fprintf(stderr, "orvane-grant-bench: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    // The service's warnings and errors, so that a grant it refuses says why. Set on the root
    // before any logger exists: the service's loggers are made from it.
    Poco::Logger::root().setChannel(
        Poco::AutoPtr<Poco::Channel>(new Poco::ConsoleChannel(std::cerr)));
    Poco::Logger::root().setLevel(Poco::Message::PRIO_WARNING);
    const std::string& folder = arguments.folder;
    const int folders = static_cast<int>(arguments.folders);
    const int filesPerFolder = static_cast<int>(arguments.filesPerFolder);
    const std::string hostFolder = OrvaneClient::HostPathFromWindowsPath(folder);
    std::printf("tree: %d folders of %d files under %s (%s)\n",
                folders,
                filesPerFolder,
                folder.c_str(),
                hostFolder.c_str());
    try {
        MakeTree(hostFolder, folders, filesPerFolder);
    } catch (const Poco::Exception& error) {
        std::fprintf(stderr,
                     "orvane-grant-bench: cannot make the tree under %s: %s\n",
                     hostFolder.c_str(),
                     error.displayText().c_str());
        return EXIT_FAILURE;
    }

    // The operation itself, without the service around it.
    OrvaneClient::PrivilegedOperations operations;

    Clock::time_point start = Clock::now();
    const size_t hostEntries = ListOnHost(hostFolder);
    const double host = SecondsSince(start);

    start = Clock::now();
    const size_t findEntries = ListWithFind(OrvaneClient::Utf8ToWide(folder));
    const double find = SecondsSince(start);

    start = Clock::now();
    size_t handleEntries = 0;
    {
        OrvaneClient::ScopedHandle top(
            CreateFileW(OrvaneClient::Utf8ToWide(folder).c_str(),
                        FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr,
                        OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS,
                        nullptr));
        if (top.isValid()) {
            handleEntries = OpenEachByHandle(top.get());
        }
    }
    const double byHandle = SecondsSince(start);

    start = Clock::now();
    const bool granted = operations.fixDirectoryPrivileges(folder.c_str(), folder.size());
    const double grant = SecondsSince(start);

    std::printf("%-34s %10s %10s\n", "", "entries", "seconds");
    std::printf("%-34s %10zu %10.3f\n", "host walk", hostEntries, host);
    std::printf("%-34s %10zu %10.3f\n", "FindFirstFileExW walk", findEntries, find);
    std::printf("%-34s %10zu %10.3f\n", "each entry opened by handle", handleEntries, byHandle);
    std::printf(
        "%-34s %10s %10.3f\n", granted ? "fix-dir (granted)" : "fix-dir (NOT granted)", "", grant);
    std::printf("fix-dir / FindFirstFileExW walk: %.2fx\n", find > 0 ? grant / find : 0.0);
    std::printf("fix-dir / each entry opened by handle: %.2fx\n",
                byHandle > 0 ? grant / byHandle : 0.0);
    return granted ? EXIT_SUCCESS : EXIT_FAILURE;
}
