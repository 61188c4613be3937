// What the built updater tells Windows about itself: its application manifest
// (version 6 common controls, the systems it supports, no elevation, DPI
// awareness), read back from the program's resources and parsed, and its
// version resource as Explorer's properties show it.
#include <windows.h>
#include <msxml2.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "resources/Version.h"
#include "resources/resource.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

// The XML parser's document interface; the import libraries do not carry it.
constexpr IID kDocumentInterface = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// The manifest resource of a program: type RT_MANIFEST, id 1.
constexpr WORD kManifestId = 1;
// The namespaces the manifest's parts live in, as XPath prefixes.
constexpr const wchar_t* kNamespaces =
    L"xmlns:a='urn:schemas-microsoft-com:asm.v1' xmlns:a3='urn:schemas-microsoft-com:asm.v3' "
    L"xmlns:c='urn:schemas-microsoft-com:compatibility.v1' "
    L"xmlns:w='http://schemas.microsoft.com/SMI/2005/WindowsSettings'";

std::wstring UpdaterPathW() { return Wide(BesideTests("updater.exe").c_str()); }

// The manifest's bytes, from the program file's resources.
std::string ManifestText() {
    HMODULE program = LoadLibraryExW(UpdaterPathW().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (program == nullptr) return "";
    std::string text;
    HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(kManifestId), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = found != nullptr ? LoadResource(program, found) : nullptr;
    const char* bytes = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes != nullptr) text.assign(bytes, SizeofResource(program, found));
    FreeLibrary(program);
    return text;
}

// The manifest parsed by the system's XML parser, or null with why in problem.
IXMLDOMDocument2* ParseManifest(const std::string& utf8, std::wstring* problem) {
    CLSID parser;
    IXMLDOMDocument2* document = nullptr;
    if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &parser)) ||
        FAILED(CoCreateInstance(parser, nullptr, CLSCTX_INPROC_SERVER, kDocumentInterface,
                                reinterpret_cast<void**>(&document)))) {
        *problem = L"no XML parser";
        return nullptr;
    }
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
    document->put_async(VARIANT_FALSE);
    BSTR source = SysAllocString(text.c_str());
    VARIANT_BOOL parsed = VARIANT_FALSE;
    HRESULT result = document->loadXML(source, &parsed);
    SysFreeString(source);
    if (FAILED(result) || parsed != VARIANT_TRUE || n <= 0) {
        IXMLDOMParseError* error = nullptr;
        BSTR reason = nullptr;
        if (SUCCEEDED(document->get_parseError(&error)) && error != nullptr) {
            error->get_reason(&reason);
            error->Release();
        }
        *problem = reason != nullptr ? reason : L"not UTF-8, or not XML";
        SysFreeString(reason);
        document->Release();
        return nullptr;
    }
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"XPath");
    BSTR name = SysAllocString(L"SelectionLanguage");
    document->setProperty(name, value);
    SysFreeString(name);
    VariantClear(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(kNamespaces);
    name = SysAllocString(L"SelectionNamespaces");
    document->setProperty(name, value);
    SysFreeString(name);
    VariantClear(&value);
    return document;
}

// The text of every node the query selects.
std::vector<std::wstring> Select(IXMLDOMDocument2* document, const wchar_t* query) {
    std::vector<std::wstring> texts;
    BSTR path = SysAllocString(query);
    IXMLDOMNodeList* nodes = nullptr;
    if (SUCCEEDED(document->selectNodes(path, &nodes)) && nodes != nullptr) {
        IXMLDOMNode* node = nullptr;
        while (nodes->nextNode(&node) == S_OK && node != nullptr) {
            BSTR text = nullptr;
            if (SUCCEEDED(node->get_text(&text)) && text != nullptr) texts.push_back(text);
            SysFreeString(text);
            node->Release();
        }
        nodes->Release();
    }
    SysFreeString(path);
    return texts;
}

class ProgramResourcesTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

// Each line is one thing the manifest must say, with what goes wrong without it.
TEST_F(ProgramResourcesTest, ManifestIsWellFormedAndAsksForWhatTheUpdaterNeeds) {
    std::string text = ManifestText();
    ASSERT_FALSE(text.empty()) << "no manifest resource in updater.exe";
    std::wstring problem;
    IXMLDOMDocument2* document = ParseManifest(text, &problem);
    ASSERT_NE(nullptr, document) << std::string(problem.begin(), problem.end());
    const wchar_t* controls =
        L"/a:assembly/a:dependency/a:dependentAssembly/a:assemblyIdentity[@name='Microsoft.Windows.Common-Controls']";
    struct Case {
        const char* what;  // and the fault without it
        std::wstring query;
        std::vector<std::wstring> expected;
    } cases[] = {
        {"common controls 6: else unthemed buttons and bars", std::wstring(controls) + L"/@version", {L"6.0.0.0"}},
        {"the controls' publisher: else the dependency is ignored", std::wstring(controls) + L"/@publicKeyToken",
         {L"6595b64144ccf1df"}},
        {"no elevation: else a UAC prompt for a folder the user owns",
         L"/a:assembly/a3:trustInfo/a3:security/a3:requestedPrivileges/a3:requestedExecutionLevel/@level",
         {L"asInvoker"}},
        {"no UI access", L"//a3:requestedExecutionLevel/@uiAccess", {L"false"}},
        {"Windows 7 to 11 supported: else compatibility shims",
         L"/a:assembly/c:compatibility/c:application/c:supportedOS/@Id",
         {L"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", L"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          L"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}},
        {"system DPI aware: else blurry, stretched windows",
         L"/a:assembly/a3:application/a3:windowsSettings/w:dpiAware", {L"true"}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Select(document, c.query.c_str())) << c.what;
    document->Release();
}

// The system's own reader of manifests takes it: an activation context can
// be made from the program's manifest resource.
TEST_F(ProgramResourcesTest, SystemAcceptsTheManifest) {
    std::wstring path = UpdaterPathW();
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(kManifestId);
    HANDLE made = CreateActCtxW(&context);
    ASSERT_NE(INVALID_HANDLE_VALUE, made) << GetLastError();
    ReleaseActCtx(made);
}

// The side-by-side store, and in it the folder of the version 6 common
// controls as the loader names it: architecture, the assembly's name,
// publisher key and version.
constexpr const wchar_t* kSideBySideStore = L"\\winsxs\\";
constexpr const wchar_t* kVersion6Assembly = L"_microsoft.windows.common-controls_6595b64144ccf1df_6.";

// The loader applies the manifest to the running updater: the common controls
// that its main window uses come from the side-by-side store's version 6, not
// from the system folder (version 5).
TEST_F(UpdaterProcessTest, UpdaterRunsWithVersion6CommonControls) {
    Start(MakeProgramFile(image_, StartupEntries("TITLEBAR 部品\r\n")));
    HWND main = WaitFor(kMainWindowTitle);
    ASSERT_NE(nullptr, main);
    std::vector<std::wstring> controls;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_.dwProcessId);
    ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module))
        if (lstrcmpiW(module.szModule, L"comctl32.dll") == 0) controls.push_back(module.szExePath);
    CloseHandle(snapshot);
    ClickButton(main, IDC_SLOT_FIRST);  // Exit
    EXPECT_EQ(0, Finish());
    ASSERT_EQ(1u, controls.size());
    std::wstring path = controls[0];
    for (wchar_t& c : path) c = towlower(c);
    EXPECT_NE(std::wstring::npos, path.find(kSideBySideStore)) << std::string(path.begin(), path.end());
    EXPECT_NE(std::wstring::npos, path.find(kVersion6Assembly)) << std::string(path.begin(), path.end());
}

std::wstring VersionString(const std::vector<uint8_t>& info, const char* name) {
    std::wstring query = L"\\StringFileInfo\\" + Wide(UPDATER_VERSION_BLOCK) + L"\\" + Wide(name);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || value == nullptr) return L"(none)";
    return static_cast<const wchar_t*>(value);
}

TEST_F(ProgramResourcesTest, VersionResourceNamesTheProgram) {
    std::wstring path = UpdaterPathW();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "no version resource in updater.exe";
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const WORD numbers[] = {UPDATER_VERSION_NUMBERS};
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(numbers[1], numbers[0])), fixed->dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(numbers[3], numbers[2])), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileFlags & fixed->dwFileFlagsMask);
    struct Field { const char* name; const char* expected; } fields[] = {
        {"CompanyName", UPDATER_COMPANY_NAME},
        {"FileDescription", UPDATER_FILE_DESCRIPTION},
        {"ProductName", UPDATER_PRODUCT_NAME},
        {"FileVersion", UPDATER_VERSION_TEXT},
        {"ProductVersion", UPDATER_VERSION_TEXT},
        {"OriginalFilename", UPDATER_ORIGINAL_FILE_NAME},
    };
    for (const Field& f : fields) EXPECT_EQ(Wide(f.expected), VersionString(info, f.name)) << f.name;
    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(UPDATER_VERSION_LANGUAGE, translation[0]);
    EXPECT_EQ(UPDATER_VERSION_CODE_PAGE, translation[1]);
}

}  // namespace
