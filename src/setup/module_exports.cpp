// The exported face of a setup module: the installer's hooks, unmangled.
// Each module is built with its own layout name (kCompiledLayoutName).
#include "setup/install_hooks.h"
#include "setup/setup_api.h"

extern const char16_t kCompiledLayoutName[];

#define FWSETUP_EXPORT extern "C" __attribute__((visibility("default")))

// In a linkage block: "extern" on a definition with an initialiser draws a warning.
extern "C" {
__attribute__((visibility("default"))) HINSTANCE g_hInstance = 0;
}

FWSETUP_EXPORT BOOL DllMain(HANDLE hModule, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        g_hInstance = static_cast<HINSTANCE>(hModule);
    return 1;
}

FWSETUP_EXPORT codeINSTALL_INIT Install_Init(HWND /*hwndParent*/, BOOL /*fFirstCall*/,
                                             BOOL /*fPreviouslyInstalled*/,
                                             LPCTSTR /*pszInstallDir*/) {
    return static_cast<codeINSTALL_INIT>(setup::RunInstallInit(WString(kCompiledLayoutName)));
}

FWSETUP_EXPORT codeINSTALL_EXIT Install_Exit(HWND /*hwndParent*/, LPCTSTR /*pszInstallDir*/,
                                             WORD /*cFailedDirs*/, WORD /*cFailedFiles*/,
                                             WORD /*cFailedRegKeys*/, WORD /*cFailedRegVals*/,
                                             WORD /*cFailedShortcuts*/) {
    return static_cast<codeINSTALL_EXIT>(setup::RunInstallExit(WString(kCompiledLayoutName)));
}

// Uninstall_Init and Uninstall_Exit share one body that ignores its arguments.
namespace {
int UninstallBody() {
    return 0;
}
}  // namespace

FWSETUP_EXPORT codeUNINSTALL_INIT Uninstall_Init(HWND /*hwndParent*/, LPCTSTR /*pszInstallDir*/) {
    return static_cast<codeUNINSTALL_INIT>(UninstallBody());
}

FWSETUP_EXPORT codeUNINSTALL_EXIT Uninstall_Exit(HWND /*hwndParent*/) {
    return static_cast<codeUNINSTALL_EXIT>(UninstallBody());
}
