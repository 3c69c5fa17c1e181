#include "machine/ApiSupport.h"

#include "machine/MachineModel.h"

#include <Poco/UTF8String.h>
#include <Poco/UnicodeConverter.h>

#include <cstring>

namespace Win32Emu {

bool RefuseUnmodelled(bool unmodelled) {
    if (unmodelled) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    }
    return unmodelled;
}

std::optional<LONG> UnmodelledCode(bool unmodelled) {
    return unmodelled ? std::optional<LONG>(ERROR_CALL_NOT_IMPLEMENTED) : std::nullopt;
}

std::string ToUtf8(const std::wstring& text) {
    std::string utf8;
    Poco::UnicodeConverter::convert(text, utf8);
    return utf8;
}

std::string ToUtf8(LPCWSTR text) {
    return text == nullptr ? std::string() : ToUtf8(std::wstring(text));
}

std::wstring ToWide(const std::string& utf8) {
    std::wstring wide;
    Poco::UnicodeConverter::toUTF32(utf8, wide);
    return wide;
}

bool InjectedFailure(const char* call, const std::string& argument, const std::string& objectType) {
    Model().faults.runHooks(call);
    const std::optional<DWORD> error = Model().faults.take(call, argument, objectType);
    if (!error) {
        return false;
    }
    SetLastError(*error);
    return true;
}

std::optional<DWORD> InjectedError(const char* call,
                                   const std::string& argument,
                                   const std::string& objectType) {
    Model().faults.runHooks(call);
    return Model().faults.take(call, argument, objectType);
}

std::string HandleTypeName(HANDLE handle) {
    const std::optional<HandleEntry> entry = Model().handles.entry(handle);
    return entry ? entry->object->typeName() : std::string();
}

std::vector<BYTE> WideStringData(const std::string& utf8) {
    const std::wstring wide = ToWide(utf8);
    std::vector<BYTE> data((wide.size() + 1) * sizeof(WCHAR), 0);
    std::memcpy(data.data(), wide.data(), wide.size() * sizeof(WCHAR));
    return data;
}

std::string Utf8FromWideData(const std::vector<BYTE>& data) {
    std::wstring wide(data.size() / sizeof(WCHAR), L'\0');
    std::memcpy(&wide[0], data.data(), wide.size() * sizeof(WCHAR));
    const std::wstring::size_type end = wide.find(L'\0');
    if (end != std::wstring::npos) {
        wide.resize(end);
    }
    return ToUtf8(wide);
}

bool EqualNames(const std::string& left, const std::string& right) {
    return Poco::UTF8::icompare(left, right) == 0;
}

}  // namespace Win32Emu
