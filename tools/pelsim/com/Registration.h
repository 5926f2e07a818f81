// pelsim.exe /RegServer and /UnregServer: the registration that lets COM
// start pelsim for either program's class and marshal its interfaces. It
// never takes over a class that another program (the station's real
// application) has registered, unless forced.
#pragma once

#include <oaidl.h>

#include <string>

namespace pelsim {

// Registers both classes with `arguments` added to the command line COM
// starts pelsim with, the interfaces' proxy/stub entries and the type
// library. False with the reason in `message`.
bool RegisterServer(ITypeLib* typeLib, const std::wstring& exePath, const std::wstring& arguments,
                    bool force, std::string& message);
// Removes what RegisterServer wrote; a class registered to another program
// stays unless forced.
bool UnregisterServer(ITypeLib* typeLib, const std::wstring& exePath, bool force,
                      std::string& message);

} // namespace pelsim
