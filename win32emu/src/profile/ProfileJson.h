#pragma once

// Reading a machine profile's JSON: each reader checks the kind and range of one value and
// raises Poco::DataFormatException naming where in the profile it is wrong.

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Object.h>

#include <string>
#include <windows.h>

namespace Win32Emu::ProfileJson {

using Poco::Dynamic::Var;
using Poco::JSON::Object;

[[noreturn]] void invalid(const std::string& where, const std::string& what);
// The document's top-level object, members in document order.
Object::Ptr parseDocument(const std::string& json);
bool isObject(const Var& value);
const Object& objectOf(const Var& value, const std::string& where);
long long integerOf(const Var& value, const std::string& where, long long min, long long max);
DWORD dwordOf(const Var& value, const std::string& where);
std::string textOf(const Var& value, const std::string& where);
bool booleanOf(const Var& value, const std::string& where);
// Member names that stand for numbers: decimal, or hexadecimal with 0x ("0x23").
long long numberOfName(const std::string& name, const std::string& where, long long max);

}  // namespace Win32Emu::ProfileJson
