#include "profile/ProfileJson.h"

#include <Poco/Exception.h>
#include <Poco/JSON/ParseHandler.h>
#include <Poco/JSON/Parser.h>
#include <Poco/NumberParser.h>

#include <typeinfo>

namespace Win32Emu::ProfileJson {

[[noreturn]] void invalid(const std::string& where, const std::string& what) {
    throw Poco::DataFormatException("machine profile: " + where, what);
}

bool isObject(const Var& value) {
    return value.type() == typeid(Object::Ptr);
}

const Object& objectOf(const Var& value, const std::string& where) {
    if (!isObject(value) || value.extract<Object::Ptr>().isNull()) {
        invalid(where, "must be an object");
    }
    return *value.extract<Object::Ptr>();
}

long long integerOf(const Var& value, const std::string& where, long long min, long long max) {
    if (!value.isInteger()) {
        invalid(where, "must be a whole number");
    }
    long long number = 0;
    try {
        number = value.convert<long long>();
    } catch (const Poco::RangeException&) {
        invalid(where, "is out of range");
    }
    if (number < min || number > max) {
        invalid(where, "must be from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return number;
}

DWORD dwordOf(const Var& value, const std::string& where) {
    return static_cast<DWORD>(integerOf(value, where, 0, 0xFFFFFFFFLL));
}

std::string textOf(const Var& value, const std::string& where) {
    if (!value.isString()) {
        invalid(where, "must be a string");
    }
    return value.extract<std::string>();
}

bool booleanOf(const Var& value, const std::string& where) {
    if (!value.isBoolean()) {
        invalid(where, "must be true or false");
    }
    return value.extract<bool>();
}

long long numberOfName(const std::string& name, const std::string& where, long long max) {
    Poco::UInt64 number = 0;
    const bool parsed = name.size() > 2 && (name[1] == 'x' || name[1] == 'X') && name[0] == '0'
                            ? Poco::NumberParser::tryParseHex64(name.substr(2), number)
                            : Poco::NumberParser::tryParseUnsigned64(name, number);
    if (!parsed || number > static_cast<Poco::UInt64>(max)) {
        invalid(where + "." + name, "is not a number from 0 to " + std::to_string(max));
    }
    return static_cast<long long>(number);
}

Object::Ptr parseDocument(const std::string& json) {
    // Kept in document order: registry values are created, and enumerated, in that order.
    Poco::JSON::Parser parser(new Poco::JSON::ParseHandler(true));
    const Var document = parser.parse(json);
    if (!isObject(document) || document.extract<Object::Ptr>().isNull()) {
        invalid("the document", "must be a JSON object");
    }
    return document.extract<Object::Ptr>();
}

}  // namespace Win32Emu::ProfileJson
