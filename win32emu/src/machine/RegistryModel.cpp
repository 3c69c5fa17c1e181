#include "machine/RegistryModel.h"

#include <Poco/UTF8String.h>

#include <algorithm>

namespace Win32Emu {

namespace {

bool sameName(const std::string& left, const std::string& right) {
    return Poco::UTF8::icompare(left, right) == 0;
}

// Characters as the wide calls count them: code points (UTF-32 here).
DWORD characterCount(const std::string& utf8) {
    return static_cast<DWORD>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

RegistryKeyPtr newRoot(const char* name) {
    auto root = std::make_shared<RegistryKeyNode>();
    root->name = name;
    return root;
}

RegistryKeyPtr findSubKey(const RegistryKeyNode& key, const std::string& name) {
    for (const auto& subKey : key.subKeys) {
        if (sameName(subKey->name, name)) {
            return subKey;
        }
    }
    return nullptr;
}

}  // namespace

RegistryModel::RegistryModel()
    : localMachine(newRoot("HKEY_LOCAL_MACHINE")), users(newRoot("HKEY_USERS")) {}

void RegistryModel::clear() {
    std::lock_guard<std::mutex> guard(lock);
    markDeleted(localMachine);
    markDeleted(users);
    localMachine = newRoot("HKEY_LOCAL_MACHINE");
    users = newRoot("HKEY_USERS");
}

RegistryKeyPtr RegistryModel::hive(Hive hive) const {
    std::lock_guard<std::mutex> guard(lock);
    return hive == Hive::LocalMachine ? localMachine : users;
}

void RegistryModel::markDeleted(const RegistryKeyPtr& key) {
    key->deleted = true;
    for (const auto& subKey : key->subKeys) {
        markDeleted(subKey);
    }
}

LONG RegistryModel::openKey(const RegistryKeyPtr& base,
                            const std::vector<std::string>& path,
                            bool create,
                            RegistryKeyPtr& key,
                            bool* created,
                            bool openLink) {
    std::lock_guard<std::mutex> guard(lock);
    if (base->deleted) {
        return ERROR_KEY_DELETED;
    }
    RegistryKeyPtr current = base;
    bool madeNew = false;
    for (size_t at = 0; at < path.size(); ++at) {
        const std::string& component = path[at];
        // A link on the way leads to its target (which is not followed further).
        if (current->isLink && !(current = linkTargetLocked(*current))) {
            return ERROR_FILE_NOT_FOUND;
        }
        RegistryKeyPtr next = findSubKey(*current, component);
        if (!next) {
            if (!create) {
                return ERROR_FILE_NOT_FOUND;
            }
            next = std::make_shared<RegistryKeyNode>();
            next->name = component;
            next->parent = current;
            const auto position = std::find_if(
                current->subKeys.begin(), current->subKeys.end(), [&](const RegistryKeyPtr& k) {
                    return Poco::UTF8::icompare(k->name, component) > 0;
                });
            current->subKeys.insert(position, next);
            madeNew = true;
        } else {
            madeNew = false;
        }
        current = next;
    }
    if (current->isLink && !openLink && !(current = linkTargetLocked(*current))) {
        return ERROR_FILE_NOT_FOUND;
    }
    key = current;
    if (created != nullptr) {
        *created = madeNew;
    }
    return ERROR_SUCCESS;
}

RegistryKeyPtr RegistryModel::linkTargetLocked(const RegistryKeyNode& link) const {
    RegistryKeyPtr target = link.linkHive == static_cast<int>(Hive::Users) ? users : localMachine;
    for (const std::string& name : link.linkTarget) {
        target = target ? findSubKey(*target, name) : nullptr;
    }
    return target;
}

void RegistryModel::makeLink(const RegistryKeyPtr& key,
                             Hive hive,
                             const std::vector<std::string>& target) {
    std::lock_guard<std::mutex> guard(lock);
    key->isLink = true;
    key->linkHive = static_cast<int>(hive);
    key->linkTarget = target;
}

LONG RegistryModel::deleteKey(const RegistryKeyPtr& base,
                              const std::vector<std::string>& path,
                              bool withSubKeys) {
    std::lock_guard<std::mutex> guard(lock);
    if (base->deleted) {
        return ERROR_KEY_DELETED;
    }
    RegistryKeyPtr target = base;
    for (const std::string& component : path) {
        target = findSubKey(*target, component);
        if (!target) {
            return ERROR_FILE_NOT_FOUND;
        }
    }
    const RegistryKeyPtr parent = target->parent.lock();
    if (!parent) {
        return ERROR_ACCESS_DENIED;
    }
    if (!target->subKeys.empty() && !withSubKeys) {
        return ERROR_ACCESS_DENIED;
    }
    markDeleted(target);
    parent->subKeys.erase(std::find(parent->subKeys.begin(), parent->subKeys.end(), target));
    return ERROR_SUCCESS;
}

LONG RegistryModel::queryValue(const RegistryKeyPtr& key,
                               const std::string& name,
                               RegistryValue& value) const {
    std::lock_guard<std::mutex> guard(lock);
    if (key->deleted) {
        return ERROR_KEY_DELETED;
    }
    for (const auto& entry : key->values) {
        if (sameName(entry.first, name)) {
            value = entry.second;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegistryModel::setValue(const RegistryKeyPtr& key,
                             const std::string& name,
                             RegistryValue value) {
    std::lock_guard<std::mutex> guard(lock);
    if (key->deleted) {
        return ERROR_KEY_DELETED;
    }
    for (auto& entry : key->values) {
        if (sameName(entry.first, name)) {
            entry.second = std::move(value);
            return ERROR_SUCCESS;
        }
    }
    key->values.emplace_back(name, std::move(value));
    return ERROR_SUCCESS;
}

LONG RegistryModel::subKeyAt(const RegistryKeyPtr& key, DWORD index, std::string& name) const {
    std::lock_guard<std::mutex> guard(lock);
    if (key->deleted) {
        return ERROR_KEY_DELETED;
    }
    if (index >= key->subKeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    name = key->subKeys[index]->name;
    return ERROR_SUCCESS;
}

LONG RegistryModel::valueAt(const RegistryKeyPtr& key,
                            DWORD index,
                            std::string& name,
                            RegistryValue& value) const {
    std::lock_guard<std::mutex> guard(lock);
    if (key->deleted) {
        return ERROR_KEY_DELETED;
    }
    if (index >= key->values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    name = key->values[index].first;
    value = key->values[index].second;
    return ERROR_SUCCESS;
}

LONG RegistryModel::info(const RegistryKeyPtr& key, KeyInfo& info) const {
    std::lock_guard<std::mutex> guard(lock);
    if (key->deleted) {
        return ERROR_KEY_DELETED;
    }
    info = KeyInfo();
    info.subKeys = static_cast<DWORD>(key->subKeys.size());
    for (const auto& subKey : key->subKeys) {
        info.maxSubKeyLength = std::max(info.maxSubKeyLength, characterCount(subKey->name));
    }
    info.values = static_cast<DWORD>(key->values.size());
    for (const auto& entry : key->values) {
        info.maxValueNameLength = std::max(info.maxValueNameLength, characterCount(entry.first));
        info.maxValueLength =
            std::max(info.maxValueLength, static_cast<DWORD>(entry.second.data.size()));
    }
    return ERROR_SUCCESS;
}

std::vector<std::string> RegistryModel::splitPath(const std::string& path) {
    std::vector<std::string> components;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        const std::string::size_type end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            components.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return components;
}

void RegistryModel::redirectTo32BitView(Hive hive, std::vector<std::string>& path) {
    if (hive != Hive::LocalMachine || path.empty() || !sameName(path[0], "SOFTWARE")) {
        return;
    }
    if (path.size() >= 2 && sameName(path[1], "WOW6432Node")) {
        return;
    }
    path.insert(path.begin() + 1, "WOW6432Node");
}

}  // namespace Win32Emu
