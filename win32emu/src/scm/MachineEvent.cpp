#include "Win32Emu/MachineEvent.h"

#include "scm/ServiceDispatcher.h"

namespace Win32Emu {

void ReportMachineEvent(const std::string& kind, const ScmMessage::EventFields& fields) {
    ServiceDispatcher::instance().reportEvent(ScmMessage::event(kind, fields));
}

}  // namespace Win32Emu
