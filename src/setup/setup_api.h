// The setup-DLL protocol of the platform's CAB installer: the hooks a setup
// module exports and the types of their arguments. The installer stand-in of
// the host toolkit includes this header too.
#ifndef FWSETUP_SETUP_SETUP_API_H
#define FWSETUP_SETUP_SETUP_API_H

#include <cstdint>

typedef void* HWND;
typedef void* HINSTANCE;
typedef void* HANDLE;
typedef void* LPVOID;
typedef int BOOL;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef const char16_t* LPCTSTR;

enum codeINSTALL_INIT { codeINSTALL_INIT_CONTINUE = 0, codeINSTALL_INIT_CANCEL = 1 };
enum codeINSTALL_EXIT { codeINSTALL_EXIT_DONE = 0, codeINSTALL_EXIT_UNINSTALL = 1 };
enum codeUNINSTALL_INIT { codeUNINSTALL_INIT_CONTINUE = 0, codeUNINSTALL_INIT_CANCEL = 1 };
enum codeUNINSTALL_EXIT { codeUNINSTALL_EXIT_DONE = 0 };

const DWORD DLL_PROCESS_DETACH = 0;
const DWORD DLL_PROCESS_ATTACH = 1;

// Signatures of the exported hooks, as the installer calls them.
typedef codeINSTALL_INIT (*InstallInitFn)(HWND hwndParent, BOOL fFirstCall,
                                           BOOL fPreviouslyInstalled, LPCTSTR pszInstallDir);
typedef codeINSTALL_EXIT (*InstallExitFn)(HWND hwndParent, LPCTSTR pszInstallDir,
                                           WORD cFailedDirs, WORD cFailedFiles,
                                           WORD cFailedRegKeys, WORD cFailedRegVals,
                                           WORD cFailedShortcuts);
typedef codeUNINSTALL_INIT (*UninstallInitFn)(HWND hwndParent, LPCTSTR pszInstallDir);
typedef codeUNINSTALL_EXIT (*UninstallExitFn)(HWND hwndParent);
typedef BOOL (*DllMainFn)(HANDLE hModule, DWORD reason, LPVOID reserved);

#endif
