#include "ServiceSecurity.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include <algorithm>
#include <utility>

namespace OrvaneSc {

namespace {

constexpr std::pair<const char*, DWORD> kRights[] = {
    {"CC", SERVICE_QUERY_CONFIG},
    {"DC", SERVICE_CHANGE_CONFIG},
    {"LC", SERVICE_QUERY_STATUS},
    {"SW", SERVICE_ENUMERATE_DEPENDENTS},
    {"RP", SERVICE_START},
    {"WP", SERVICE_STOP},
    {"DT", SERVICE_PAUSE_CONTINUE},
    {"LO", SERVICE_INTERROGATE},
    {"CR", SERVICE_USER_DEFINED_CONTROL},
    {"SD", DELETE},
    {"RC", READ_CONTROL},
    {"WD", WRITE_DAC},
    {"WO", WRITE_OWNER},
};

constexpr std::pair<const char*, const char*> kAliases[] = {
    {"SY", "S-1-5-18"},
    {"BA", "S-1-5-32-544"},
    {"BU", "S-1-5-32-545"},
    {"IU", "S-1-5-4"},
    {"SU", "S-1-5-6"},
    {"AU", "S-1-5-11"},
    {"WD", "S-1-1-0"},
    {"LS", "S-1-5-19"},
    {"NS", "S-1-5-20"},
};

std::optional<DWORD> parseRights(const std::string& text) {
    if (text.size() > 2 && text.compare(0, 2, "0x") == 0) {
        unsigned value = 0;
        if (!Poco::NumberParser::tryParseHex(text.substr(2), value)) {
            return std::nullopt;
        }
        return static_cast<DWORD>(value);
    }
    if (text.empty() || text.size() % 2 != 0) {
        return std::nullopt;
    }
    DWORD rights = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string code = text.substr(i, 2);
        const auto found = std::find_if(std::begin(kRights), std::end(kRights), [&](auto& right) {
            return code == right.first;
        });
        if (found == std::end(kRights)) {
            return std::nullopt;
        }
        rights |= found->second;
    }
    return rights;
}

std::optional<std::string> parseSid(const std::string& text) {
    for (const auto& [alias, sid] : kAliases) {
        if (text == alias) {
            return std::string(sid);
        }
    }
    if (text.size() > 4 && Poco::toUpper(text.substr(0, 4)) == "S-1-" &&
        text.find_first_not_of("0123456789-Ss") == std::string::npos) {
        return Poco::toUpper(text);
    }
    return std::nullopt;
}

}  // namespace

std::optional<ServiceSecurity> ServiceSecurity::fromSddl(const std::string& sddl) {
    if (sddl.compare(0, 2, "D:") != 0) {
        return std::nullopt;
    }
    ServiceSecurity security;
    size_t position = 2;
    while (position < sddl.size()) {
        const size_t close = sddl.find(')', position);
        if (sddl[position] != '(' || close == std::string::npos) {
            return std::nullopt;
        }
        // type;flags;rights;object;inherited object;sid
        std::vector<std::string> fields;
        size_t start = position + 1;
        for (;;) {
            const size_t semicolon = std::min(sddl.find(';', start), close);
            fields.push_back(sddl.substr(start, semicolon - start));
            if (semicolon == close) {
                break;
            }
            start = semicolon + 1;
        }
        if (fields.size() != 6 || (fields[0] != "A" && fields[0] != "D") || !fields[1].empty() ||
            !fields[3].empty() || !fields[4].empty()) {
            return std::nullopt;
        }
        const std::optional<DWORD> rights = parseRights(fields[2]);
        const std::optional<std::string> sid = parseSid(fields[5]);
        if (!rights || !sid) {
            return std::nullopt;
        }
        security.entries.push_back({fields[0] == "A", *rights, *sid});
        position = close + 1;
    }
    return security;
}

bool ServiceSecurity::grants(const std::vector<std::string>& callerSids, DWORD access) const {
    DWORD wanted = access;
    for (const Entry& entry : entries) {
        if (wanted == 0) {
            break;
        }
        const bool applies = std::any_of(callerSids.begin(), callerSids.end(), [&](auto& sid) {
            return Poco::toUpper(sid) == entry.sid;
        });
        if (!applies) {
            continue;
        }
        if (!entry.allow && (entry.rights & wanted) != 0) {
            return false;
        }
        if (entry.allow) {
            wanted &= ~entry.rights;
        }
    }
    return wanted == 0;
}

}  // namespace OrvaneSc
