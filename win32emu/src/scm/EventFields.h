#pragma once

// The fields of an `event` line (Win32Emu/ScmMessage.h gives the format).

#include "Win32Emu/ScmMessage.h"

#include <string>
#include <string_view>

namespace Win32Emu {

// A kind or a key: letters, digits, '_' and '-', at least one.
bool IsEventWord(std::string_view text);
// "event <kind> key=value key=\"quoted%20value\"..." without the newline: a value is bare unless
// it is empty or holds a space, a quote, '%' or a control character.
std::string RenderEvent(const std::string& kind, const ScmMessage::EventFields& fields);
// "key=value key=\"quoted value\"..." into fields; false for anything else.
bool ParseEventFields(std::string_view text, ScmMessage::EventFields& fields);
// Cuts a UTF-8 value to about three quarters, at a character boundary, marking the cut.
void ShortenEventValue(std::string& value);

}  // namespace Win32Emu
