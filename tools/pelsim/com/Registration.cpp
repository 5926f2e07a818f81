#include "Registration.h"

#include "CltPel_TLB.h"
#include "ComSupport.h"
#include "Pel_TLB.h"
#include "WideText.h"

#include <windows.h>

#include <array>

// mingw-w64's oleauto.h lacks the per-user type-library calls that
// oleaut32 exports.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid,
                                        SYSKIND kind);
}

namespace pelsim {

namespace {

using pelmbus::LinkIdentifiers;
using pelmbus::Utf8FromWide;
using pelmbus::WideFromUtf8;

struct ProgramEntry {
    const LinkIdentifiers* Ids;
    const wchar_t* Option; // pelsim's --program value
    const wchar_t* Name;   // of the default interface
    const wchar_t* Events; // of the event interface
};

const std::array<ProgramEntry, 2> Programs{{
    {&pelmbus::AutoPelIdentifiers, L"server", L"IAutoPel", L"IAutoPelEvents"},
    {&pelmbus::AutoCltPelIdentifiers, L"client", L"IAutoCltPel", L"IAutoCltPelEvents"},
}};

// Type-library marshalling for dual interfaces, and the dispatch
// marshaller for the event interfaces.
constexpr const wchar_t* DualMarshaller = L"{00020424-0000-0000-C000-000000000046}";
constexpr const wchar_t* DispatchMarshaller = L"{00020420-0000-0000-C000-000000000046}";

std::wstring Wide(std::string_view text) {
    return WideFromUtf8(text);
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// A value of a key under HKEY_CLASSES_ROOT (the machine's and the user's
// classes together); empty when there is none.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return data;
}

// The program a LocalServer32 command line starts.
std::wstring ProgramOf(const std::wstring& commandLine) {
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const auto end = commandLine.find(L'"', 1);
        return commandLine.substr(1, end == std::wstring::npos ? end : end - 1);
    }
    return commandLine.substr(0, commandLine.find(L' '));
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Writes one string value below root\Software\Classes.
LSTATUS SetClassesValue(HKEY root, const std::wstring& key, const wchar_t* name,
                        const std::wstring& value) {
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(root, (L"Software\\Classes\\" + key).c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status;
}

void DeleteClassesTree(const std::wstring& key) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        RegDeleteTreeW(root, (L"Software\\Classes\\" + key).c_str());
    }
}

std::wstring LibraryId(ITypeLib* typeLib) {
    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLib->GetLibAttr(&attributes))) {
        return {};
    }
    const std::wstring id = GuidText(attributes->guid);
    typeLib->ReleaseTLibAttr(attributes);
    return id;
}

std::string Failure(const char* what, HRESULT hr) {
    return std::string(what) + ": " + pelmbus::com::HResultText(hr);
}

} // namespace

bool RegisterServer(ITypeLib* typeLib, const std::wstring& exePath, const std::wstring& arguments,
                    bool force, std::string& message) {
    const std::wstring libraryId = LibraryId(typeLib);
    for (const ProgramEntry& program : Programs) {
        const std::wstring current =
            ProgramOf(ClassesValue(L"CLSID\\" + Wide(program.Ids->ClassId) + L"\\LocalServer32"));
        if (!current.empty() && !SamePath(current, exePath) && !force) {
            message = "class " + std::string(program.Ids->ClassId) + " of " +
                      std::string(program.Ids->ProgramName) + " is registered to " +
                      Utf8FromWide(current) + "; not replaced (/Force replaces it)";
            return false;
        }
    }

    // The machine's classes; a user without the right to write them gets
    // their own (Wine reads only the machine's).
    HKEY root = HKEY_LOCAL_MACHINE;
    HKEY probe = nullptr;
    if (RegCreateKeyExW(root, L"Software\\Classes", 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr,
                        &probe, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(probe);
    } else {
        root = HKEY_CURRENT_USER;
    }

    for (const ProgramEntry& program : Programs) {
        const std::wstring classKey = L"CLSID\\" + Wide(program.Ids->ClassId);
        std::wstring commandLine = L"\"" + exePath + L"\" --program " + program.Option;
        if (!arguments.empty()) {
            commandLine += L" " + arguments;
        }
        const std::wstring interfaceKey = L"Interface\\" + Wide(program.Ids->InterfaceId);
        const std::wstring eventKey = L"Interface\\" + Wide(program.Ids->EventInterfaceId);
        const std::wstring title = L"pelsim: " + Wide(program.Ids->ProgramName) + L" simulator";
        for (const auto& [key, name, value] :
             std::array<std::tuple<std::wstring, const wchar_t*, std::wstring>, 11>{{
                 {classKey, nullptr, title},
                 {classKey + L"\\LocalServer32", nullptr, commandLine},
                 {classKey + L"\\TypeLib", nullptr, libraryId},
                 {interfaceKey, nullptr, program.Name},
                 {interfaceKey + L"\\ProxyStubClsid32", nullptr, DualMarshaller},
                 {interfaceKey + L"\\TypeLib", nullptr, libraryId},
                 {interfaceKey + L"\\TypeLib", L"Version", L"1.0"},
                 {eventKey, nullptr, program.Events},
                 {eventKey + L"\\ProxyStubClsid32", nullptr, DispatchMarshaller},
                 {eventKey + L"\\TypeLib", nullptr, libraryId},
                 {eventKey + L"\\TypeLib", L"Version", L"1.0"},
             }}) {
            const LSTATUS status = SetClassesValue(root, key, name, value);
            if (status != ERROR_SUCCESS) {
                message = Failure("cannot write the registry", HRESULT_FROM_WIN32(status));
                return false;
            }
        }
    }

    std::wstring path = exePath;
    HRESULT hr = root == HKEY_LOCAL_MACHINE ? RegisterTypeLib(typeLib, path.data(), nullptr)
                                            : RegisterTypeLibForUser(typeLib, path.data(), nullptr);
    if (FAILED(hr)) {
        message = Failure("cannot register the type library", hr);
        return false;
    }
    message = "registered " + Utf8FromWide(exePath) + " for Pel.exe and " + "CltPel.exe in " +
              (root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU");
    return true;
}

bool UnregisterServer(ITypeLib* typeLib, const std::wstring& exePath, bool force,
                      std::string& message) {
    const std::wstring libraryId = LibraryId(typeLib);
    bool all = true;
    for (const ProgramEntry& program : Programs) {
        const std::wstring classKey = L"CLSID\\" + Wide(program.Ids->ClassId);
        const std::wstring current = ProgramOf(ClassesValue(classKey + L"\\LocalServer32"));
        if (!current.empty() && !SamePath(current, exePath) && !force) {
            message += "class " + std::string(program.Ids->ClassId) + " is registered to " +
                       Utf8FromWide(current) + "; left as it is\n";
            all = false;
            continue;
        }
        DeleteClassesTree(classKey);
        // Interfaces only where they name pelsim's library: the real
        // application's entries carry the same identifiers.
        for (std::string_view id : {program.Ids->InterfaceId, program.Ids->EventInterfaceId}) {
            const std::wstring key = L"Interface\\" + Wide(id);
            if (force || SamePath(ClassesValue(key + L"\\TypeLib"), libraryId)) {
                DeleteClassesTree(key);
            }
        }
    }
    TLIBATTR* attributes = nullptr;
    if (all && SUCCEEDED(typeLib->GetLibAttr(&attributes))) {
        if (FAILED(UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                     attributes->wMinorVerNum, attributes->lcid,
                                     attributes->syskind))) {
            UnRegisterTypeLibForUser(attributes->guid, attributes->wMajorVerNum,
                                     attributes->wMinorVerNum, attributes->lcid,
                                     attributes->syskind);
        }
        typeLib->ReleaseTLibAttr(attributes);
    }
    if (all) {
        message = "unregistered " + Utf8FromWide(exePath);
    }
    return all;
}

} // namespace pelsim
